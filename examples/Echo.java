import tolve.core.Terminal;

/**
 * Waits for the keys typed at the host with Terminal.waitByte and answers
 * each line in capitals. Ends at a '.'.
 */
public class Echo {
    public static void main() {
        System.out.println("Type a line (a '.' ends):");
        StringBuffer line = new StringBuffer();
        int key;
        while ((key = Terminal.waitByte()) != '.') {
            if (key == '\n' || key == '\r') {
                System.out.println("> " + line);
                line.setLength(0);
            } else {
                line.append((char) (key >= 'a' && key <= 'z' ? key - 32 : key));
            }
        }
        if (line.length() > 0) {
            System.out.println("> " + line);
        }
        System.out.println("Bye.");
    }
}
