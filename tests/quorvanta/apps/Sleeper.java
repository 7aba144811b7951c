import java.io.FileOutputStream;

// Writes its process id into the file it is given, then waits to be ended.
public class Sleeper {
    public static void main(String[] args) throws Exception {
        String pid = Long.toString(ProcessHandle.current().pid());
        try (FileOutputStream out = new FileOutputStream(args[0] + ".part")) {
            out.write(pid.getBytes("US-ASCII"));
        }
        new java.io.File(args[0] + ".part").renameTo(new java.io.File(args[0]));
        Thread.sleep(Long.MAX_VALUE);
    }
}
