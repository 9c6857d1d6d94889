package tolve.core;

import java.util.Arrays;

/**
 * Desktop stand-in for the module's CPU natives, so a test program runs
 * unchanged on a desktop JVM. It keeps the same state a simulator keeps for a
 * board with nothing attached: pin levels and directions, registers, SRAM,
 * peripheral slots and a clock. The clock is simulated time (advanced by the
 * calls that take time on the module) plus real time, so busy-waiting on a
 * Timer still ends.
 */
public final class CPU {

    public static final int SHIFT_MSB_FIRST = 0;
    public static final int SHIFT_LSB_FIRST = 1;
    public static final int SHIFT_SAMPLE_AFTER = 2;

    static final int PINS = 16;
    static final int SLOTS = 8;
    static final int SRAM_SIZE = 8192;

    static final boolean[] level = new boolean[PINS];
    static final boolean[] output = new boolean[PINS];
    static final int[] registers = new int[256];
    static final int[] sram = new int[SRAM_SIZE];

    static final boolean[] claimed = new boolean[SLOTS];
    static final Object[] owners = new Object[SLOTS];
    /** Pins each slot's peripheral drives, released on uninstall. */
    static final int[][] slotPins = new int[SLOTS][];
    /** Transmit rings of running transmitters, drained on every native call. */
    static final char[][] txQueues = new char[SLOTS][];

    private static long simulatedMicros;
    private static final long startNanos = System.nanoTime();

    private CPU() {
    }

    /** Microseconds since start: simulated waits plus real running time. */
    static long micros() {
        return simulatedMicros + (System.nanoTime() - startNanos) / 1000;
    }

    static void advance(long micros) {
        if (micros > 0) {
            simulatedMicros += micros;
        }
    }

    static boolean validPin(int pin) {
        return pin >= 0 && pin < PINS;
    }

    static boolean validSlot(int slot) {
        return slot >= 0 && slot < SLOTS;
    }

    /** Background work of the firmware: nothing listens, so every queued byte is sent at once. */
    static void background() {
        for (char[] q : txQueues) {
            if (q != null) {
                q[0] = q[1];
            }
        }
    }

    static void drive(int pin, boolean high) {
        if (validPin(pin)) {
            output[pin] = true;
            level[pin] = high;
        }
    }

    public static void writeRegister(int address, int value) {
        background();
        if (address >= 0 && address < registers.length) {
            registers[address] = value & 0xFF;
        }
    }

    public static int readRegister(int address) {
        background();
        return address >= 0 && address < registers.length ? registers[address] : -1;
    }

    public static void writeObject(int address, Object object) {
        // A desktop JVM has no 16-bit references: store a stable stand-in.
        int ref = object == null ? 0 : System.identityHashCode(object) & 0xFFFF;
        writeRegister(address, ref);
        writeRegister(address + 1, ref >> 8);
    }

    public static void delay(int units) {
        background();
        advance(units * 100L);
    }

    public static void message(char[] data, int length) {
        background();
        int n = Math.max(0, Math.min(length, data.length));
        for (int i = 0; i < n; i++) {
            System.out.write(data[i] & 0xFF);
        }
        System.out.flush();
    }

    public static int count(int pin, int units, boolean rising) {
        setInput(pin);
        advance(units * 100L);
        return 0;
    }

    public static int rcTime(int pin, int timeout, boolean state) {
        setInput(pin);
        if (!validPin(pin) || level[pin] != state) {
            return 0;
        }
        advance(timeout * 10L);
        return -1;
    }

    public static int pulseIn(int pin, int timeout, boolean state) {
        setInput(pin);
        advance(timeout * 10L);
        return -1;
    }

    public static void pulseOut(int pin, int length) {
        background();
        if (validPin(pin)) {
            output[pin] = true;
        }
        advance(length * 10L);
    }

    public static boolean readPin(int pin) {
        background();
        return validPin(pin) && level[pin];
    }

    public static void writePin(int pin, boolean high) {
        background();
        drive(pin, high);
    }

    public static int shiftIn(int dataPin, int clockPin, int bits, int mode) {
        setInput(dataPin);
        drive(clockPin, false);
        bits = Math.max(0, Math.min(16, bits));
        advance(bits * 20L);
        boolean high = validPin(dataPin) && level[dataPin];
        int value = high ? (1 << bits) - 1 : 0;
        return (short) value;
    }

    public static void shiftOut(int dataPin, int clockPin, int bits, int mode, int value) {
        background();
        bits = Math.max(0, Math.min(16, bits));
        drive(clockPin, false);
        if (bits > 0) {
            int last = (mode & SHIFT_LSB_FIRST) != 0 ? bits - 1 : 0;
            drive(dataPin, ((value >> last) & 1) != 0);
        }
        advance(bits * 20L);
    }

    /** A desktop JVM cannot see the carry of its own additions. */
    public static boolean carry() {
        return false;
    }

    public static void uninstall(int slot) {
        background();
        if (!validSlot(slot) || !claimed[slot]) {
            return;
        }
        if (slotPins[slot] != null) {
            for (int pin : slotPins[slot]) {
                if (validPin(pin)) {
                    output[pin] = false;
                }
            }
        }
        claimed[slot] = false;
        owners[slot] = null;
        slotPins[slot] = null;
        txQueues[slot] = null;
    }

    public static int install(Object peripheral) {
        background();
        for (int slot = 0; slot < SLOTS; slot++) {
            if (!claimed[slot]) {
                claimed[slot] = true;
                owners[slot] = peripheral;
                return slot;
            }
        }
        return -1;
    }

    public static void nap(int period) {
        background();
        advance(18000L << Math.max(0, Math.min(7, period)));
    }

    public static void setOutput(int pin) {
        background();
        if (validPin(pin)) {
            output[pin] = true;
        }
    }

    public static void setInput(int pin) {
        background();
        if (validPin(pin)) {
            output[pin] = false;
        }
    }

    public static int readSRAM(int address) {
        background();
        return address >= 0 && address < SRAM_SIZE ? sram[address] : -1;
    }

    public static void writeSRAM(int address, int value) {
        background();
        if (address >= 0 && address < SRAM_SIZE) {
            sram[address] = value & 0xFF;
        }
    }

    /** Claims pins for a peripheral starting in slot; used by the peripheral stand-ins. */
    static boolean start(int slot, int... pins) {
        if (!validSlot(slot) || !claimed[slot]) {
            return false;
        }
        slotPins[slot] = Arrays.copyOf(pins, pins.length);
        return true;
    }
}
