package java.lang;

public final class Math {

    private Math() {
    }

    /** As on any two's complement int, abs(-32768) is -32768. */
    public static int abs(int a) {
        return a < 0 ? -a : a;
    }

    public static int min(int a, int b) {
        return a <= b ? a : b;
    }

    public static int max(int a, int b) {
        return a >= b ? a : b;
    }
}
