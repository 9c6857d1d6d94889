package tolve.core;

/** Desktop stand-in: nothing is on the line, so bytes sent vanish and nothing is received. */
public class Uart {

    public static final int TRANSMIT = 0;
    public static final int RECEIVE = 1;

    public static final int SPEED_1200 = 12;
    public static final int SPEED_2400 = 24;
    public static final int SPEED_4800 = 48;
    public static final int SPEED_9600 = 96;
    public static final int SPEED_19200 = 192;
    public static final int SPEED_38400 = 384;
    public static final int SPEED_57600 = 576;
    public static final int SPEED_115200 = 1152;

    private static final int QUEUE = 16;

    private int slot = -1;
    private int direction;
    private int pin;
    private int speed;
    private int stopBits;
    private char[] queue;

    public Uart(int direction, int pin, int speed, int stopBits) {
        this.direction = direction;
        this.pin = pin;
        this.speed = speed;
        this.stopBits = stopBits;
        if (direction == TRANSMIT) {
            queue = new char[QUEUE + 2];
        }
        start();
    }

    public boolean start() {
        if (slot < 0) {
            slot = CPU.install(this);
            if (slot >= 0) {
                if (queue != null) {
                    queue[0] = 0;
                    queue[1] = 0;
                    txInit(slot, pin, speed, stopBits, queue);
                } else {
                    rxInit(slot, pin, speed, stopBits);
                }
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

    public void send(int b) {
        if (queue == null || slot < 0) {
            return;
        }
        int write = queue[1];
        int next = write + 1 == QUEUE ? 0 : write + 1;
        while (queue[0] == next) {
            CPU.delay(1);
        }
        queue[2 + write] = (char) b;
        queue[1] = (char) next;
    }

    public void send(String s) {
        int n = s.length();
        for (int i = 0; i < n; i++) {
            send(s.charAt(i));
        }
    }

    public boolean sendDone() {
        return queue == null || queue[0] == queue[1];
    }

    public int receive() {
        return slot < 0 ? -1 : rxRead(slot);
    }

    public static void txInit(int slot, int pin, int speed, int stopBits, char[] queue) {
        CPU.background();
        if (CPU.start(slot, pin)) {
            CPU.drive(pin, true);
            CPU.txQueues[slot] = queue;
        }
    }

    public static void rxInit(int slot, int pin, int speed, int stopBits) {
        CPU.background();
        if (CPU.start(slot)) {
            CPU.setInput(pin);
        }
    }

    public static int rxRead(int slot) {
        CPU.background();
        return -1;
    }
}
