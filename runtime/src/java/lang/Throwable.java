package java.lang;

/**
 * Base of everything that can be thrown.
 *
 * There is no reflection, so toString() cannot ask for the class name. Each
 * library class instead reports its position in one shared table of names
 * through nameIndex(). The table is a single literal on purpose: every
 * distinct literal counts against a small per-program limit, and these
 * classes are linked into every program. A program's own subclasses cannot
 * override the package-private nameIndex(), so they print the name of their
 * nearest library ancestor (override toString() for a better one).
 *
 * There are no stack traces.
 */
public class Throwable {

    /** Division by zero: ArithmeticException("/ by zero"). */
    static final int VM_DIVIDE_BY_ZERO = 1;
    /** Null reference used: NullPointerException. */
    static final int VM_NULL_POINTER = 2;
    /** Array index out of range: ArrayIndexOutOfBoundsException. */
    static final int VM_ARRAY_INDEX = 3;
    /** Array created with a negative size: NegativeArraySizeException. */
    static final int VM_NEGATIVE_SIZE = 4;
    /** checkcast failed: ClassCastException. */
    static final int VM_CLASS_CAST = 5;
    /** Heap exhausted: OutOfMemoryError. */
    static final int VM_OUT_OF_MEMORY = 6;

    /**
     * Allocated while memory is still plentiful: when the heap is exhausted
     * there is no room left to build the error that reports it.
     */
    private static OutOfMemoryError outOfMemory = new OutOfMemoryError();

    private String message;

    public Throwable() {
    }

    public Throwable(String message) {
        this.message = message;
    }

    public String getMessage() {
        return message;
    }

    public String toString() {
        char[] names = "Throwable Exception RuntimeException Error ArithmeticException NullPointerException IndexOutOfBoundsException ArrayIndexOutOfBoundsException NegativeArraySizeException ClassCastException IllegalArgumentException NumberFormatException VirtualMachineError OutOfMemoryError".value;
        int i = 0;
        for (int skip = nameIndex(); skip > 0; i++) {
            if (names[i] == ' ') {
                skip--;
            }
        }
        StringBuffer text = new StringBuffer("java.lang.");
        while (i < names.length && names[i] != ' ') {
            text.append(names[i++]);
        }
        // Through the call, so that a subclass's getMessage() is shown.
        String detail = getMessage();
        if (detail != null) {
            text.append(':').append(' ').append(detail);
        }
        return text.toString();
    }

    /** Position of this class's name in the table in toString(). */
    int nameIndex() {
        return 0;
    }

    /**
     * Entry point for the virtual machine's own errors: the VM calls this
     * with one of the VM_ codes above instead of building exceptions itself.
     * An unknown code throws Error whose message is the code in decimal.
     */
    public static void throwVMException(int code) {
        switch (code) {
        case VM_DIVIDE_BY_ZERO:
            throw new ArithmeticException("/ by zero");
        case VM_NULL_POINTER:
            throw new NullPointerException();
        case VM_ARRAY_INDEX:
            throw new ArrayIndexOutOfBoundsException();
        case VM_NEGATIVE_SIZE:
            throw new NegativeArraySizeException();
        case VM_CLASS_CAST:
            throw new ClassCastException();
        case VM_OUT_OF_MEMORY:
            throw outOfMemory;
        default:
            throw new Error(String.valueOf(code));
        }
    }
}
