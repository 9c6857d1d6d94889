package tolve.core;

/** Desktop stand-in: the pin is an output that reads high from level 128 up. */
public class DAC {

    private int slot = -1;
    private int pin;
    private char[] level = new char[1];

    public DAC(int pin, int level) {
        this.pin = pin;
        update(level);
        start();
    }

    public boolean start() {
        if (slot < 0) {
            slot = CPU.install(this);
            if (slot >= 0) {
                install(slot, pin, level);
            }
        }
        return slot >= 0;
    }

    public void stop() {
        if (slot >= 0) {
            CPU.uninstall(slot);
            slot = -1;
        }
    }

    public boolean isRunning() {
        return slot >= 0;
    }

    public void update(int value) {
        if (value < 0) {
            value = 0;
        } else if (value > 255) {
            value = 255;
        }
        level[0] = (char) value;
    }

    public static void install(int slot, int pin, char[] level) {
        CPU.background();
        if (CPU.start(slot, pin)) {
            CPU.drive(pin, level[0] >= 128);
        }
    }
}
