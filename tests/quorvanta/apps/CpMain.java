// Runs only when the class path reaches all three of its folders: this
// class, CpRooted and CpDrive are put into different ones by the test.
public class CpMain {
    public static void main(String[] args) {
        System.out.println(CpRooted.name() + " " + CpDrive.name());
        System.out.println("classpath:" + System.getProperty("java.class.path"));
    }
}
