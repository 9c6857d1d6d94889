/**
 * Ends with an exception nothing catches: the module reports its class and
 * where it was thrown, and MorvaneDirect names the source file and line.
 */
public class Crash {
    static int average(int[] values) {
        int sum = 0;
        for (int i = 0; i < values.length; i++) {
            sum += values[i];
        }
        return sum / values.length;
    }

    public static void main() {
        int[] marks = {7, 9, 8};
        System.out.println("Average of three marks: " + average(marks));
        System.out.println("Average of no marks:");
        System.out.println(average(new int[0]));
    }
}
