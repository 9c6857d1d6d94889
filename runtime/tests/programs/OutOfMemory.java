/**
 * Allocates until the heap runs out; the module must still be able to
 * report it and carry on. Run with a small heap, compared with
 * OutOfMemory.expected.
 */
public class OutOfMemory {
    static Object[] keep = new Object[200];

    public static void main(String[] args) {
        int made = 0;
        try {
            for (int i = 0; i < keep.length; i++) {
                keep[i] = new char[100];
                made++;
            }
            System.out.println("heap never ran out");
        } catch (OutOfMemoryError e) {
            keep = null;
            System.out.println(e);
            System.out.println("made some: " + (made > 0 && made < 200));
        }
        OutOfMemoryError first = null;
        for (int round = 0; round < 2; round++) {
            try {
                char[][] hog = new char[100][];
                for (int i = 0; i < hog.length; i++) {
                    hog[i] = new char[1000];
                }
            } catch (OutOfMemoryError e) {
                System.out.println("round " + round + " same error object: " + (first == null || first == e));
                first = e;
            }
        }
    }
}
