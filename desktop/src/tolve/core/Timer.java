package tolve.core;

/** Desktop stand-in over the CPU stand-in's clock; same arithmetic as the module's. */
public class Timer {

    private static long startMicros = -1;

    private int markLow;
    private int markHigh;

    public Timer() {
        init();
        mark();
    }

    public void mark() {
        markLow = latch();
        markHigh = Callback.returnTwo();
    }

    public int passed() {
        int low = latch() - markLow;
        int high = Callback.returnTwo() - markHigh;
        if (low < 0) {
            low += 32768;
            high--;
        }
        if (high < 0) {
            high += 32768;
        }
        return high == 0 ? low : 32767;
    }

    public boolean timeout(int ticks) {
        return passed() >= ticks;
    }

    public static void init() {
        CPU.background();
        if (startMicros < 0) {
            startMicros = CPU.micros();
        }
    }

    public static int latch() {
        CPU.background();
        long ticks = startMicros < 0 ? 0 : (CPU.micros() - startMicros) / 100;
        Callback.second = (int) ((ticks >> 15) & 0x7FFF);
        return (int) (ticks & 0x7FFF);
    }
}
