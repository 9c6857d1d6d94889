import tolve.core.CPU;
import tolve.core.Terminal;

/** Asks for a key ten times a second, as the class library suggests, for ever. */
public class Poller {
    public static void main() {
        System.out.println("polling");
        while (true) {
            if (Terminal.getByte() >= 0) {
                System.out.println("a key");
            }
            CPU.delay(1000);
        }
    }
}
