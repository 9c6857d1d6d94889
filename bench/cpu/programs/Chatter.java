/** Prints numbered lines for ever, as fast as the line carries them. */
public class Chatter {
    public static void main() {
        int i = 0;
        while (true) {
            System.out.println("line " + i);
            i++;
        }
    }
}
