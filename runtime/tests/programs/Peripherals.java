import tolve.core.CPU;
import tolve.core.EEPROM;
import tolve.core.PWM;
import tolve.core.Timer;
import tolve.core.Uart;

/** The Java side of the peripheral classes on a board with nothing attached. */
public class Peripherals {
    public static void main(String[] args) {
        PWM[] waves = new PWM[8];
        for (int i = 0; i < waves.length; i++) {
            waves[i] = new PWM(i, 100, 100);
        }
        PWM extra = new PWM(8, 10, 10);
        System.out.println("eight running: " + waves[7].isRunning() + ", ninth: " + extra.isRunning());
        waves[3].stop();
        System.out.println("after a stop: " + waves[3].isRunning() + " " + extra.start() + " " + waves[3].start());
        waves[3].update(5, 5);
        for (int i = 0; i < waves.length; i++) {
            waves[i].stop();
        }
        extra.stop();

        Uart tx = new Uart(Uart.TRANSMIT, 9, Uart.SPEED_9600, 1);
        System.out.println("uart running " + tx.isRunning() + " done " + tx.sendDone());
        tx.send("more bytes than the sixteen-byte queue holds");
        CPU.delay(1);
        System.out.println("sent, done " + tx.sendDone());
        tx.stop();
        tx.send('x');
        Uart rx = new Uart(Uart.RECEIVE, 10, Uart.SPEED_115200, 1);
        System.out.println("received " + rx.receive() + " " + rx.sendDone());
        rx.stop();
        System.out.println("stopped receiver " + rx.receive());

        System.out.println("eeprom " + EEPROM.eeRead(0) + " " + EEPROM.eeRead(EEPROM.SIZE) + " " + EEPROM.eeRead(-1));
        System.out.println(EEPROM.eeWrite(5, 300) + " " + EEPROM.eeRead(5) + " " + EEPROM.eeWrite(EEPROM.SIZE, 1));

        CPU.writePin(12, true);
        System.out.println("pin " + CPU.readPin(12) + " " + CPU.readPin(13));

        Timer t = new Timer();
        CPU.delay(50);
        int passed = t.passed();
        System.out.println("timer " + (passed >= 50 && passed < 1000) + " " + t.timeout(50) + " " + t.timeout(30000));
    }
}
