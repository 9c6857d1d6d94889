package tolve.core;

/** Keys typed on the host's console. */
public final class Terminal {

    private Terminal() {
    }

    /**
     * The next typed key as 0..255, or -1 at once when none is waiting:
     * the module never blocks here, so a program polls (with a delay
     * between polls) for as long as it wants to wait.
     */
    public static native int getByte();
}
