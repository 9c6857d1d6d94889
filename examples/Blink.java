import tolve.core.CPU;

/**
 * Drives pin 0 like a blinking LED and reads it back. The simulated module
 * has nothing attached: an output reads back what it drives.
 */
public class Blink {
    static final int LED = 0;

    public static void main() {
        boolean on = false;
        for (int i = 0; i < 6; i++) {
            on = !on;
            CPU.writePin(LED, on);
            CPU.delay(2500); // a quarter of a second
            System.out.println("LED " + (CPU.readPin(LED) ? "on" : "off"));
        }
        CPU.setInput(LED);
        System.out.println("as an input it keeps its level: " + CPU.readPin(LED));
    }
}
