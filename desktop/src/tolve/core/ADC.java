package tolve.core;

/** Desktop stand-in: nothing is connected, so the result is the input pin's level, 0 or 255. */
public class ADC {

    private int slot = -1;
    private int inPin;
    private int outPin;
    private char[] result = new char[1];

    public ADC(int inPin, int outPin) {
        this.inPin = inPin;
        this.outPin = outPin;
        start();
    }

    public boolean start() {
        if (slot < 0) {
            slot = CPU.install(this);
            if (slot >= 0) {
                install(slot, inPin, outPin, result);
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

    public int value() {
        return result[0];
    }

    public static void install(int slot, int inPin, int outPin, char[] result) {
        CPU.background();
        if (CPU.start(slot, outPin)) {
            CPU.setInput(inPin);
            CPU.drive(outPin, false);
            result[0] = (char) (CPU.readPin(inPin) ? 255 : 0);
        }
    }
}
