package tolve.core;

/**
 * Hands back the second half of a native's answer. A native returns one
 * 16-bit int; one that has more to say (Timer.latch) leaves the rest here,
 * and the program calls back for it straight away.
 */
public final class Callback {

    private Callback() {
    }

    /** Second result of the most recent native that produced one; 0 before any. */
    public static native int returnTwo();
}
