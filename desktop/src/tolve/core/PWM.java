package tolve.core;

/** Desktop stand-in: the wave is not generated; its pin is an output held high. */
public class PWM {

    private int slot = -1;
    private int pin;
    private int highTime;
    private int lowTime;

    public PWM(int pin, int highTime, int lowTime) {
        this.pin = pin;
        this.highTime = highTime;
        this.lowTime = lowTime;
        start();
    }

    public boolean start() {
        if (slot < 0) {
            slot = CPU.install(this);
            if (slot >= 0) {
                install(slot, pin, highTime, lowTime);
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

    public void update(int highTime, int lowTime) {
        this.highTime = highTime;
        this.lowTime = lowTime;
        if (slot >= 0) {
            updateInternal(slot, highTime, lowTime);
        }
    }

    public static void install(int slot, int pin, int highTime, int lowTime) {
        CPU.background();
        if (CPU.start(slot, pin)) {
            CPU.drive(pin, true);
        }
    }

    public static void updateInternal(int slot, int highTime, int lowTime) {
        CPU.background();
    }
}
