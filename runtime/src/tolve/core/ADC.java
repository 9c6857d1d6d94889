package tolve.core;

/**
 * A voltage measurement running in the background: a feedback pin charges an
 * RC network toward the threshold of an input pin, and the share of time the
 * input reads high is the result. The firmware writes each new result into a
 * one-cell array shared with this object, so value() costs no native call.
 */
public class ADC {

    private int slot = -1;
    private int inPin;
    private int outPin;
    private char[] result = new char[1];

    /** Creates the measurement and starts it. */
    public ADC(int inPin, int outPin) {
        this.inPin = inPin;
        this.outPin = outPin;
        start();
    }

    /** Starts (or restarts) measuring; false when every slot is taken. */
    public boolean start() {
        if (slot < 0) {
            slot = CPU.install(this);
            if (slot >= 0) {
                install(slot, inPin, outPin, result);
            }
        }
        return slot >= 0;
    }

    /** Stops measuring and frees the slot; both pins become inputs. */
    public void stop() {
        if (slot >= 0) {
            CPU.uninstall(slot);
            slot = -1;
        }
    }

    public boolean isRunning() {
        return slot >= 0;
    }

    /** Latest result, 0..255 of the supply voltage. */
    public int value() {
        return result[0];
    }

    /** Starts measuring in a slot claimed with CPU.install, writing result[0]. */
    public static native void install(int slot, int inPin, int outPin, char[] result);
}
