package java.lang;

/**
 * Character tests for the module's 8-bit characters, which are Latin-1:
 * each answers as the desktop does for characters 0..255.
 */
public final class Character {

    private Character() {
    }

    public static boolean isDigit(char ch) {
        return ch >= '0' && ch <= '9';
    }

    /** A-Z, a-z, the ordinals 170 and 186, micro 181, and 192-255 but 215 and 247 (the signs of multiplication and division). */
    public static boolean isLetter(char ch) {
        return ch >= 'A' && ch <= 'Z' || ch >= 'a' && ch <= 'z' || ch == 170 || ch == 181 || ch == 186
                || ch >= 192 && ch != 215 && ch != 247;
    }

    /**
     * Case changes here rather than as String.toUpperCase: linking is per
     * class, and String is part of every program. Latin-1 letters of one case
     * lie 32 from the other's: A-Z and 192-222 but 215. The three small letters
     * whose capitals lie beyond 8 bits (181, 223, 255) stay as they are.
     */
    public static char toUpperCase(char ch) {
        return isCapital(ch - 32) ? (char) (ch - 32) : ch;
    }

    public static char toLowerCase(char ch) {
        return isCapital(ch) ? (char) (ch + 32) : ch;
    }

    private static boolean isCapital(int c) {
        return c >= 'A' && c <= 'Z' || c >= 192 && c <= 222 && c != 215;
    }

    /** Tab to carriage return and the four separators 28-31 before the space; not the no-break space 160. */
    public static boolean isWhitespace(char ch) {
        return ch >= 9 && ch <= 13 || ch >= 28 && ch <= 32;
    }
}
