package java.lang;

/**
 * Growable 8-bit text. String concatenation compiles to this class:
 * new StringBuffer(), new StringBuffer(String), append(...) and toString().
 */
public final class StringBuffer {

    char[] value;
    int count;

    public StringBuffer() {
        this(16);
    }

    public StringBuffer(int length) {
        value = new char[length];
    }

    public StringBuffer(String str) {
        this(str.count + 16);
        append(str);
    }

    public int length() {
        return count;
    }

    public char charAt(int index) {
        if (index >= count) {
            throw new IndexOutOfBoundsException();
        }
        return value[index];
    }

    /** Shortening keeps the storage, so a buffer can be reused without garbage. */
    public void setLength(int newLength) {
        if (newLength < 0) {
            throw new IndexOutOfBoundsException();
        }
        ensure(newLength);
        while (count < newLength) {
            value[count++] = 0;
        }
        count = newLength;
    }

    public StringBuffer append(String str) {
        if (str == null) {
            str = "null";
        }
        ensure(count + str.count);
        String.copy(str.value, 0, value, count, str.count);
        count += str.count;
        return this;
    }

    public StringBuffer append(Object obj) {
        return append(String.valueOf(obj));
    }

    public StringBuffer append(boolean b) {
        return append(String.valueOf(b));
    }

    public StringBuffer append(char c) {
        ensure(count + 1);
        value[count++] = c;
        return this;
    }

    /** Formats straight into the buffer: no temporary String. */
    public StringBuffer append(int i) {
        int end = count + String.intLength(i);
        ensure(end);
        String.putInt(i, value, end);
        count = end;
        return this;
    }

    public String toString() {
        return new String(this);
    }

    private void ensure(int minimum) {
        if (minimum > value.length) {
            // Doubling can overflow a 16-bit int for huge buffers; the
            // comparison then falls back to the exact size.
            int size = value.length * 2 + 2;
            if (size < minimum) {
                size = minimum;
            }
            char[] bigger = new char[size];
            String.copy(value, 0, bigger, 0, count);
            value = bigger;
        }
    }
}
