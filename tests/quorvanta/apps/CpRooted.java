public class CpRooted {
    static String name() {
        return "rooted";
    }
}
