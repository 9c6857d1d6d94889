import tolve.core.CPU;
import tolve.core.Timer;

/**
 * Behaviour only the module shows: 16-bit ints, exceptions without desktop
 * detail messages, class names known only for library classes. Compared with
 * Module16.expected instead of a desktop run.
 */
public class Module16 {
    static class Custom extends IllegalArgumentException {
        Custom(String message) {
            super(message);
        }
    }

    static void parse(String s) {
        try {
            System.out.println(s + " -> " + Integer.parseInt(s));
        } catch (NumberFormatException e) {
            System.out.println(s + " -> " + e.getMessage());
        }
    }

    public static void main(String[] args) {
        int big = 32767;
        big++;
        int three = 300;
        int minusOne = -1;
        System.out.println("wrap " + big + " " + (big - 1) + " " + (three * three) + " " + (big / minusOne));
        System.out.println("abs " + Math.abs(-32768) + " " + Integer.toString(-32768) + " " + new StringBuffer().append(-32768));
        parse("32767");
        parse("32768");
        parse("-32768");
        parse("-32769");
        parse("99999");
        parse("-100000");
        System.out.println(new Custom("mine"));
        System.out.println(new Object());
        int[] a = new int[2];
        String none = null;
        try {
            a[2] = 0;
        } catch (RuntimeException e) {
            System.out.println(e);
        }
        try {
            none.length();
        } catch (RuntimeException e) {
            System.out.println(e);
        }
        try {
            a = new int[-1];
        } catch (RuntimeException e) {
            System.out.println(e);
        }
        try {
            Object o = "s";
            a = (int[]) o;
        } catch (RuntimeException e) {
            System.out.println(e);
        }
        try {
            Throwable.throwVMException(42);
        } catch (Error e) {
            System.out.println(e);
        }
        try {
            Throwable.throwVMException(0);
        } catch (Error e) {
            System.out.println(e);
        }

        Timer t = new Timer();
        CPU.delay(20000);
        CPU.delay(20000);
        System.out.println("saturated " + t.passed() + " " + t.timeout(32767));
        t.mark();
        CPU.delay(30000);
        System.out.println("across the low wrap " + t.passed());
        CPU.delay(2767);
        System.out.println("at the limit " + t.passed());
        CPU.delay(1);
        System.out.println("past the limit " + t.passed());
        Timer late = new Timer();
        CPU.delay(123);
        System.out.println("second timer " + late.passed());
    }
}
