package java.lang;

/**
 * Decimal conversion for the module's 16-bit int. parseInt accepts exactly
 * -32768..32767, so a program reading numbers cannot silently wrap.
 */
public final class Integer {

    /** The module's int is 16 bits. */
    public static final int MAX_VALUE = 32767;
    public static final int MIN_VALUE = -32768;

    private Integer() {
    }

    public static String toString(int i) {
        return String.valueOf(i);
    }

    public static int parseInt(String s) throws NumberFormatException {
        if (s == null) {
            throw new NumberFormatException("Cannot parse null string");
        }
        char[] text = s.value;
        int length = s.count;
        int i = 0;
        boolean negative = false;
        if (length > 0 && (text[0] == '-' || text[0] == '+')) {
            negative = text[0] == '-';
            i = 1;
        }
        if (i == length) {
            throw badInput(s);
        }
        // Accumulate the negative of the value: -32768 has no positive
        // counterpart in 16 bits.
        int limit = negative ? -32768 : -32767;
        int result = 0;
        while (i < length) {
            int digit = text[i++] - '0';
            // (limit + digit) / 10 rounds toward zero, i.e. up for negatives,
            // so passing this check guarantees result * 10 - digit >= limit.
            if (digit < 0 || digit > 9 || result < (limit + digit) / 10) {
                throw badInput(s);
            }
            result = result * 10 - digit;
        }
        return negative ? result : -result;
    }

    private static NumberFormatException badInput(String s) {
        return new NumberFormatException(new StringBuffer("For input string: \"")
                .append(s).append('"').toString());
    }
}
