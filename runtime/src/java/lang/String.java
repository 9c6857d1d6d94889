package java.lang;

/**
 * Immutable 8-bit text.
 *
 * The image writes string literals as [class][count][value], so the two
 * instance fields must stay exactly these, in this order. Every String owns
 * its array and value.length == count always holds: the virtual machine and
 * natives may use either length.
 *
 * The fields are package-private so StringBuffer and Integer can fill a
 * fresh string in place instead of building a temporary array and copying it.
 */
public final class String {

    int count;
    char[] value;

    public String(char[] value) {
        this(value, 0, value.length);
    }

    public String(char[] value, int offset, int count) {
        // Checked before allocating so a negative count reports the bad
        // range rather than a negative array size.
        if (offset < 0 || count < 0 || offset > value.length - count) {
            throw new IndexOutOfBoundsException();
        }
        this.count = count;
        this.value = new char[count];
        copy(value, offset, this.value, 0, count);
    }

    public String(StringBuffer buffer) {
        this(buffer.count);
        copy(buffer.value, 0, value, 0, count);
    }

    /** An uninitialised string of the given length for the library to fill. */
    String(int count) {
        this.count = count;
        value = new char[count];
    }

    public int length() {
        return count;
    }

    /** An index out of range fails in the array access itself. */
    public char charAt(int index) {
        return value[index];
    }

    public boolean equals(Object obj) {
        return obj instanceof String && ((String) obj).count == count && startsWith((String) obj, 0);
    }

    /** Java's hash kept in a 16-bit int: the desktop value's low 16 bits. */
    public int hashCode() {
        int h = 0;
        for (int i = 0; i < count; i++) {
            h = 31 * h + value[i];
        }
        return h;
    }

    public int compareTo(String other) {
        int n = count < other.count ? count : other.count;
        for (int i = 0; i < n; i++) {
            int d = value[i] - other.value[i];
            if (d != 0) {
                return d;
            }
        }
        return count - other.count;
    }

    public boolean startsWith(String prefix) {
        return startsWith(prefix, 0);
    }

    public boolean endsWith(String suffix) {
        return startsWith(suffix, count - suffix.count);
    }

    /** The one comparison loop behind equals, startsWith, endsWith and indexOf. */
    public boolean startsWith(String prefix, int offset) {
        if (offset < 0 || offset > count - prefix.count) {
            return false;
        }
        for (int i = 0; i < prefix.count; i++) {
            if (value[offset + i] != prefix.value[i]) {
                return false;
            }
        }
        return true;
    }

    public String toString() {
        return this;
    }

    public String substring(int beginIndex) {
        return substring(beginIndex, count);
    }

    public String substring(int beginIndex, int endIndex) {
        if (beginIndex == 0 && endIndex == count) {
            return this;
        }
        return new String(value, beginIndex, endIndex - beginIndex);
    }

    public int indexOf(int ch) {
        for (int i = 0; i < count; i++) {
            if (value[i] == ch) {
                return i;
            }
        }
        return -1;
    }

    public int indexOf(String str) {
        for (int i = 0; i <= count - str.count; i++) {
            if (startsWith(str, i)) {
                return i;
            }
        }
        return -1;
    }

    public int lastIndexOf(int ch) {
        int i = count;
        while (--i >= 0 && value[i] != ch) {
        }
        return i;
    }

    /** Without the characters up to and including ' ' at either end. */
    public String trim() {
        int begin = 0;
        int end = count;
        while (begin < end && value[begin] <= ' ') {
            begin++;
        }
        while (begin < end && value[end - 1] <= ' ') {
            end--;
        }
        return substring(begin, end);
    }

    public char[] toCharArray() {
        char[] result = new char[count];
        copy(value, 0, result, 0, count);
        return result;
    }

    /** Lets other packages read the text without allocating a copy. */
    public void getChars(int srcBegin, int srcEnd, char[] dst, int dstBegin) {
        if (srcBegin < 0 || srcBegin > srcEnd || srcEnd > count) {
            throw new IndexOutOfBoundsException();
        }
        copy(value, srcBegin, dst, dstBegin, srcEnd - srcBegin);
    }

    public static String valueOf(char[] data) {
        return new String(data);
    }

    public static String valueOf(Object obj) {
        return obj == null ? "null" : obj.toString();
    }

    public static String valueOf(boolean b) {
        return b ? "true" : "false";
    }

    public static String valueOf(char c) {
        String s = new String(1);
        s.value[0] = c;
        return s;
    }

    public static String valueOf(int i) {
        String s = new String(intLength(i));
        putInt(i, s.value, s.count);
        return s;
    }

    /** Number of characters of i in decimal, sign included. */
    static int intLength(int i) {
        int n = i < 0 ? 2 : 1;
        while ((i /= 10) != 0) {
            n++;
        }
        return n;
    }

    /**
     * Writes i in decimal so that its last digit lands at dst[end - 1].
     * Digits come from the non-positive magnitude: negating -32768 overflows
     * a 16-bit int, its negative never does.
     */
    static void putInt(int i, char[] dst, int end) {
        int n = i < 0 ? i : -i;
        do {
            dst[--end] = (char) ('0' - n % 10);
            n /= 10;
        } while (n != 0);
        if (i < 0) {
            dst[--end] = '-';
        }
    }

    /** The one copy loop of the library: there is no native array copy. */
    static void copy(char[] src, int from, char[] dst, int to, int n) {
        while (--n >= 0) {
            dst[to++] = src[from++];
        }
    }
}
