import tolve.core.CPU;
import tolve.core.Uart;

/**
 * Echoes at 9600 baud: each byte that arrives on pin 7 goes back out on
 * pin 6, and each line is printed as it ends. Loops for ever: run it with
 * its bench (morvane-run --bench UartEcho.bench.toml UartEcho), which plays
 * the device at the other end.
 */
public class UartEcho {
    static final int RX = 7;
    static final int TX = 6;

    public static void main() {
        Uart in = new Uart(Uart.RECEIVE, RX, Uart.SPEED_9600, 1);
        Uart out = new Uart(Uart.TRANSMIT, TX, Uart.SPEED_9600, 1);
        System.out.println("echo ready");
        StringBuffer line = new StringBuffer();
        while (true) {
            int b = in.receive();
            if (b < 0) {
                CPU.delay(2); // a byte takes over 1 ms at 9600 baud; the receiver keeps 16
                continue;
            }
            out.send(b);
            if (b == '\n') {
                System.out.println("echoed: " + line);
                line.setLength(0);
            } else if (b != '\r') {
                line.append((char) b);
            }
        }
    }
}
