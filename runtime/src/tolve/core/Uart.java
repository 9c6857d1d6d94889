package tolve.core;

/**
 * An asynchronous serial transmitter or receiver running in the background
 * on one pin: 8 data bits, no parity, 1 or 2 stop bits, idle high.
 *
 * A receiver buffers bytes in the firmware and the program polls with
 * receive(). A transmitter has no native to hand it bytes: it drains a ring
 * buffer that it shares with this object (layout in txInit).
 */
public class Uart {

    public static final int TRANSMIT = 0;
    public static final int RECEIVE = 1;

    /** Speeds are given in hundreds of baud so 115200 fits a 16-bit int. */
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

    /** Creates a TRANSMIT or RECEIVE port and starts it. */
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

    /** Starts (or restarts) the port; false when every slot is taken. */
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

    /** Stops the port and frees its slot; unsent bytes are dropped. */
    public void stop() {
        if (slot >= 0) {
            CPU.uninstall(slot);
            slot = -1;
        }
    }

    public boolean isRunning() {
        return slot >= 0;
    }

    /**
     * Queues one byte, waiting while the queue is full. Does nothing on a
     * receiver or a stopped port, where the queue would never drain.
     */
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

    /** True when every queued byte has been handed to the line. */
    public boolean sendDone() {
        return queue == null || queue[0] == queue[1];
    }

    /** Next received byte as 0..255, or -1 when none is waiting (or not a running receiver). */
    public int receive() {
        return slot < 0 ? -1 : rxRead(slot);
    }

    /**
     * Starts a transmitter in a slot claimed with CPU.install. queue is a
     * ring: queue[0] is the read position (advanced by the firmware),
     * queue[1] the write position (advanced by the program), bytes live in
     * queue[2 .. queue.length-1], empty when the positions are equal.
     */
    public static native void txInit(int slot, int pin, int speed, int stopBits, char[] queue);

    /** Starts a receiver in a slot claimed with CPU.install. */
    public static native void rxInit(int slot, int pin, int speed, int stopBits);

    /** Next byte received by the receiver in slot, or -1 when none is waiting. */
    public static native int rxRead(int slot);
}
