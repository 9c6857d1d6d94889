package tolve.core;

/**
 * An analog level on one pin, made in the background as a pulse-density
 * stream that an RC filter smooths. The firmware reads the level from a
 * one-cell array it shares with this object, so update() costs no native
 * call.
 */
public class DAC {

    private int slot = -1;
    private int pin;
    private char[] level = new char[1];

    /** Creates the output at level (0..255, i.e. level/256 of the supply) and starts it. */
    public DAC(int pin, int level) {
        this.pin = pin;
        update(level);
        start();
    }

    /** Starts (or restarts) the output; false when every slot is taken. */
    public boolean start() {
        if (slot < 0) {
            slot = CPU.install(this);
            if (slot >= 0) {
                install(slot, pin, level);
            }
        }
        return slot >= 0;
    }

    /** Stops the output and frees its slot; the pin becomes an input. */
    public void stop() {
        if (slot >= 0) {
            CPU.uninstall(slot);
            slot = -1;
        }
    }

    public boolean isRunning() {
        return slot >= 0;
    }

    /** New level, clamped to 0..255. */
    public void update(int value) {
        if (value < 0) {
            value = 0;
        } else if (value > 255) {
            value = 255;
        }
        level[0] = (char) value;
    }

    /** Starts the output in a slot claimed with CPU.install, reading level[0]. */
    public static native void install(int slot, int pin, char[] level);
}
