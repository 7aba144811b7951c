import java.nio.file.Files;
import java.nio.file.Paths;

// Prints what it was given, one item a line: its arguments, its class path
// and the words of the runtime's own command line.
public class Report {
    public static void main(String[] args) throws Exception {
        for (String a : args) {
            System.out.println("arg:" + a);
        }
        System.out.println("classpath:" + System.getProperty("java.class.path"));
        byte[] cmdline = Files.readAllBytes(Paths.get("/proc/self/cmdline"));
        for (String word : new String(cmdline, "UTF-8").split("\0")) {
            System.out.println("jvm:" + word);
        }
    }
}
