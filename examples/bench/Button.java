import tolve.core.CPU;

/**
 * A lamp that follows a button. The button on pin 8 reads high while it is
 * pressed; the lamp on pin 2 is lit while it is held, and each press and
 * release is printed. Loops for ever, as a module program does: run it with
 * its bench (morvane-run --bench Button.bench.toml Button), which presses
 * the button.
 */
public class Button {
    static final int BUTTON = 8;
    static final int LAMP = 2;

    public static void main() {
        CPU.setInput(BUTTON);
        CPU.writePin(LAMP, false);
        System.out.println("ready");
        int presses = 0;
        boolean held = false;
        while (true) {
            boolean pressed = CPU.readPin(BUTTON);
            if (pressed != held) {
                held = pressed;
                CPU.writePin(LAMP, pressed);
                if (pressed) {
                    presses++;
                    System.out.println("pressed " + presses);
                } else {
                    System.out.println("released");
                }
            }
            CPU.delay(100); // looks every 10 ms, which also rides over a switch's bounce
        }
    }
}
