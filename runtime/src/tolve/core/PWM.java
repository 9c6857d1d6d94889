package tolve.core;

/**
 * A square wave generated in the background on one pin: high for highTime,
 * low for lowTime, both in fine units of 10 microseconds (1..32767).
 */
public class PWM {

    private int slot = -1;
    private int pin;
    private int highTime;
    private int lowTime;

    /** Creates the wave and starts it; check isRunning() if slots may run out. */
    public PWM(int pin, int highTime, int lowTime) {
        this.pin = pin;
        this.highTime = highTime;
        this.lowTime = lowTime;
        start();
    }

    /** Starts (or restarts) the wave; false when every slot is taken. */
    public boolean start() {
        if (slot < 0) {
            slot = CPU.install(this);
            if (slot >= 0) {
                install(slot, pin, highTime, lowTime);
            }
        }
        return slot >= 0;
    }

    /** Stops the wave and frees its slot; the pin becomes an input. */
    public void stop() {
        if (slot >= 0) {
            CPU.uninstall(slot);
            slot = -1;
        }
    }

    public boolean isRunning() {
        return slot >= 0;
    }

    /** New times, taking effect at the start of the next period. */
    public void update(int highTime, int lowTime) {
        this.highTime = highTime;
        this.lowTime = lowTime;
        if (slot >= 0) {
            updateInternal(slot, highTime, lowTime);
        }
    }

    /** Starts a wave in a slot claimed with CPU.install. */
    public static native void install(int slot, int pin, int highTime, int lowTime);

    /** Changes the times of the wave running in slot. */
    public static native void updateInternal(int slot, int highTime, int lowTime);
}
