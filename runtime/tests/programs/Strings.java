/** String and StringBuffer behaviour that must match a desktop JVM. */
public class Strings {
    static String describe(Object o) {
        return "<" + o + ">";
    }

    public static void main(String[] args) {
        int i = -42;
        char c = 'x';
        boolean b = true;
        Object none = null;
        String nothing = null;
        System.out.println("a" + i + c + b + none);
        System.out.println(i + "z" + 7);
        System.out.println(c + "=c " + false);
        System.out.println("" + c);
        System.out.println(none + "q" + nothing);
        String s = "hello, world";
        s += '!';
        s += 12;
        System.out.println(s + " length " + s.length());
        System.out.println(s.charAt(0) + "" + s.charAt(s.length() - 1));
        System.out.println(s.substring(7) + "|" + s.substring(0, 5) + "|" + s.substring(3, 3) + "|");
        System.out.println(s.indexOf('o') + " " + s.indexOf('w') + " " + s.indexOf('Q'));
        System.out.println(s.equals("hello, world!12") + " " + s.equals("hello") + " " + s.equals(null)
                + " " + s.equals(new StringBuffer("hello, world!12")) + " " + "".equals(""));
        char[] letters = {'m', 'o', 'r', 'v', 'a'};
        System.out.println(new String(letters) + " " + new String(letters, 1, 3) + " " + new String(letters, 5, 0) + ".");
        char[] copy = s.toCharArray();
        copy[0] = 'J';
        System.out.println(new String(copy) + " " + s);
        char[] dst = {'-', '-', '-', '-', '-', '-'};
        s.getChars(7, 11, dst, 1);
        System.out.println(dst);
        System.out.println(String.valueOf(32767) + String.valueOf(-32768) + String.valueOf('c') + String.valueOf(false)
                + String.valueOf(none) + String.valueOf((Object) "obj"));
        StringBuffer sb = new StringBuffer();
        for (int n = 0; n < 30; n++) {
            sb.append(n % 10);
        }
        sb.append('|').append(true).append(-1).append("end").append(none).append(nothing);
        System.out.println(sb.toString() + " " + sb.length() + " " + sb.charAt(31));
        sb.setLength(3);
        sb.append("x");
        System.out.println(sb + " " + sb.length());
        sb.setLength(5);
        System.out.println(sb.length() + " " + (int) sb.charAt(4));
        StringBuffer sized = new StringBuffer(1);
        sized.append("grows past its first size");
        System.out.println(sized);
        System.out.println(describe("in") + describe(new StringBuffer("sb")));
        String padded = " \t key = value \n";
        String key = padded.trim();
        System.out.println("[" + key + "] " + key.startsWith("key") + key.startsWith("value") + key.endsWith("value")
                + key.endsWith("key") + key.startsWith("=", 4) + " " + key.indexOf("=") + key.indexOf("val")
                + key.indexOf("x") + key.lastIndexOf('e') + key.lastIndexOf('=') + key.lastIndexOf('#'));
        System.out.println("abc".compareTo("abd") + " " + "abc".compareTo("ab") + " " + "".compareTo("a") + " "
                + "same".compareTo("same") + " " + "Aa".hashCode() + " " + "BB".hashCode() + " "
                + String.valueOf(letters));
        System.out.println(Character.isDigit('7') + " " + Character.isLetter('_') + " " + Character.isWhitespace('\f')
                + " " + Character.toUpperCase('q') + Character.toLowerCase('Q') + Character.toUpperCase('1'));
        try {
            s.substring(5, 2);
            System.out.println("substring accepted a reversed range");
        } catch (IndexOutOfBoundsException e) {
            System.out.println("reversed range rejected");
        }
        try {
            s.charAt(s.length());
            System.out.println("charAt accepted the length");
        } catch (IndexOutOfBoundsException e) {
            System.out.println("charAt past the end rejected");
        }
        try {
            new String(letters, 3, 5);
            System.out.println("String accepted a range past the array");
        } catch (IndexOutOfBoundsException e) {
            System.out.println("range past the array rejected");
        }
        try {
            sb.charAt(sb.length());
            System.out.println("StringBuffer.charAt accepted the length");
        } catch (IndexOutOfBoundsException e) {
            System.out.println("StringBuffer.charAt past the end rejected");
        }
    }
}
