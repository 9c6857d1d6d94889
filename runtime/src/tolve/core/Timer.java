package tolve.core;

/**
 * Measures time against the module's free-running tick counter (one tick is
 * 100 microseconds, 30 bits wide, so it wraps after about 29.8 hours).
 *
 * The count is read in two 15-bit parts so both stay non-negative in a
 * 16-bit int and the arithmetic below needs no unsigned tricks.
 */
public class Timer {

    private int markLow;
    private int markHigh;

    /** Starts the counter if needed and marks the current time. */
    public Timer() {
        init();
        mark();
    }

    /** Remembers the current time as the start of the interval. */
    public void mark() {
        markLow = latch();
        markHigh = Callback.returnTwo();
    }

    /** Ticks since the last mark, or 32767 once that many or more have passed. */
    public int passed() {
        int low = latch() - markLow;
        int high = Callback.returnTwo() - markHigh;
        if (low < 0) {
            low = low + 32767 + 1;
            high--;
        }
        if (high < 0) {
            high = high + 32767 + 1;
        }
        return high == 0 ? low : 32767;
    }

    /** True once at least ticks (0..32767) ticks have passed since the mark. */
    public boolean timeout(int ticks) {
        return passed() >= ticks;
    }

    /** Starts the tick counter at 0 on the first call; later calls do nothing. */
    public static native void init();

    /** Bits 0..14 of the tick count; bits 15..29 go to Callback.returnTwo(). */
    public static native int latch();
}
