/** Exceptions from the library and from the virtual machine, as a desktop JVM shows them. */
public class Exceptions {
    static int[] table = new int[3];
    static Object text = "text";

    static void show(Throwable t) {
        System.out.println(t + " | " + t.getMessage());
    }

    static int divide(int a, int b) {
        return a / b;
    }

    public static void main(String[] args) {
        show(new Throwable());
        show(new Exception("e"));
        show(new RuntimeException());
        show(new Error("bad"));
        show(new ArithmeticException("a"));
        show(new NullPointerException("n"));
        show(new IndexOutOfBoundsException("i"));
        show(new ArrayIndexOutOfBoundsException("ai"));
        show(new NegativeArraySizeException("neg"));
        show(new ClassCastException("cc"));
        show(new IllegalArgumentException("ia"));
        show(new NumberFormatException("nf"));
        show(new OutOfMemoryError("oom"));
        show(new OutOfMemoryError());

        try {
            divide(7, 0);
        } catch (ArithmeticException e) {
            show(e);
        }
        try {
            System.out.println(5 % (table.length - 3));
        } catch (RuntimeException e) {
            show(e);
        }
        try {
            table[3] = 1;
        } catch (IndexOutOfBoundsException e) {
            System.out.println("index: " + (e instanceof ArrayIndexOutOfBoundsException));
        }
        try {
            table[-1] = 1;
        } catch (ArrayIndexOutOfBoundsException e) {
            System.out.println("negative index caught");
        }
        try {
            int[] bad = new int[table.length - 4];
            System.out.println(bad.length);
        } catch (NegativeArraySizeException e) {
            System.out.println("negative size: " + (e instanceof RuntimeException));
        }
        try {
            StringBuffer sb = (StringBuffer) text;
            System.out.println(sb);
        } catch (ClassCastException e) {
            System.out.println("cast caught");
        }
        try {
            String s = null;
            System.out.println(s.length());
        } catch (NullPointerException e) {
            System.out.println("null caught");
        }
        try {
            int[] none = null;
            System.out.println(none.length);
        } catch (RuntimeException e) {
            System.out.println("null array: " + (e instanceof NullPointerException));
        }
        try {
            throw new IllegalArgumentException("thrown");
        } catch (Exception e) {
            show(e);
        } finally {
            System.out.println("finally ran");
        }
        int caught = 0;
        for (int i = 0; i < 5; i++) {
            try {
                table[i] = 10 / (2 - i);
            } catch (ArithmeticException e) {
                caught += 10;
            } catch (RuntimeException e) {
                caught++;
            }
        }
        System.out.println("caught " + caught + " " + table[0] + " " + table[1]);
        try {
            nested();
        } catch (Error e) {
            show(e);
        }
    }

    static void nested() {
        try {
            throw new Error("inner");
        } catch (RuntimeException e) {
            System.out.println("wrong handler");
        }
    }
}
