/** Echoes typed keys in upper case until the keys run out. */
public class Console {
    public static void main(String[] args) {
        StringBuffer line = new StringBuffer();
        int lines = 0;
        int key;
        while ((key = tolve.core.Terminal.getByte()) >= 0) {
            if (key == '\n') {
                System.out.println(lines + ": " + line);
                line.setLength(0);
                lines++;
            } else {
                line.append((char) (key >= 'a' && key <= 'z' ? key - 32 : key));
            }
        }
        System.out.println("end after " + lines + " lines, rest '" + line + "'");
    }
}
