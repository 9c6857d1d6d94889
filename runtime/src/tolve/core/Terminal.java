package tolve.core;

/** Keys typed on the host's console. */
public final class Terminal {

    /**
     * Pause between two asks of waitByte, in CPU.delay units: 20 ms. The
     * host answers at its next look at the line anyway, so asking more often
     * would only fill the line with "no key" answers.
     */
    private static final int ASK_PAUSE = 200;

    private Terminal() {
    }

    /**
     * The next typed key as 0..255, or -1 at once when none is waiting:
     * the module never blocks here, so a program can poll while it does
     * other work.
     */
    public static native int getByte();

    /**
     * The next typed key as 0..255, waiting until one is typed: asks the
     * host again every 20 ms until a key comes. It never returns -1.
     */
    public static int waitByte() {
        int key;
        while ((key = getByte()) < 0) {
            CPU.delay(ASK_PAUSE);
        }
        return key;
    }
}
