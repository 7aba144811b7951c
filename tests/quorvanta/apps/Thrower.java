// Fails the way an application's bug does: an exception out of main.
public class Thrower {
    public static void main(String[] args) {
        throw new IllegalStateException("thrown by the test application");
    }
}
