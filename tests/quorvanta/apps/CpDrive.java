public class CpDrive {
    static String name() {
        return "drive";
    }
}
