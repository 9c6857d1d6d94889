package tolve.core;

/**
 * The module's processor: pins, registers, timing, the debug channel to the
 * host and the background peripheral slots. The README describes every
 * native in detail; the summary here is for readers of the code.
 *
 * Time units: a "unit" is 100 microseconds (delay, count), a "fine unit" is
 * 10 microseconds (pulseIn, pulseOut, rcTime). Pins are numbered 0..15.
 */
public final class CPU {

    /** shiftIn/shiftOut mode bits: most significant bit first. */
    public static final int SHIFT_MSB_FIRST = 0;
    /** shiftIn/shiftOut mode bit: least significant bit first. */
    public static final int SHIFT_LSB_FIRST = 1;
    /** shiftIn mode bit: sample data after the clock pulse instead of before. */
    public static final int SHIFT_SAMPLE_AFTER = 2;

    private CPU() {
    }

    /** Stores the low 8 bits of value in register address (0..255). */
    public static native void writeRegister(int address, int value);

    /** Register address (0..255) as 0..255, or -1 if out of range. */
    public static native int readRegister(int address);

    /** Stores the reference of object in registers address (low byte) and address + 1. */
    public static native void writeObject(int address, Object object);

    /** Busy-waits for units of 100 microseconds. */
    public static native void delay(int units);

    /** Sends data[0..length-1] to the host as one debug message. */
    public static native void message(char[] data, int length);

    /** Counts rising or falling edges on an input pin during units of 100 microseconds. */
    public static native int count(int pin, int units, boolean rising);

    /** Time in fine units until an input pin leaves state; -1 on timeout. */
    public static native int rcTime(int pin, int timeout, boolean state);

    /** Length in fine units of the next pulse at state on an input pin; -1 on timeout. */
    public static native int pulseIn(int pin, int timeout, boolean state);

    /** Inverts an output pin for length fine units, then restores it. */
    public static native void pulseOut(int pin, int length);

    /** Current level of a pin, whatever its direction. */
    public static native boolean readPin(int pin);

    /** Makes the pin an output driving the given level. */
    public static native void writePin(int pin, boolean high);

    /** Clocks in 1..16 bits, right-justified in the result. */
    public static native int shiftIn(int dataPin, int clockPin, int bits, int mode);

    /** Clocks out the low 1..16 bits of value. */
    public static native void shiftOut(int dataPin, int clockPin, int bits, int mode, int value);

    /** Carry (or borrow) out of bit 15 of the most recent int addition or subtraction. */
    public static native boolean carry();

    /** Stops the peripheral in slot, releases its pins and frees the slot. */
    public static native void uninstall(int slot);

    /** Claims a free peripheral slot (0..7) for peripheral; -1 if none is free. */
    public static native int install(Object peripheral);

    /** Low-power sleep of 18 ms << period (period 0..7). */
    public static native void nap(int period);

    /** Makes the pin an output driving its current level. */
    public static native void setOutput(int pin);

    /** Makes the pin an input. */
    public static native void setInput(int pin);

    /** Byte address of the auxiliary SRAM as 0..255, or -1 if out of range. */
    public static native int readSRAM(int address);

    /** Stores the low 8 bits of value at address of the auxiliary SRAM. */
    public static native void writeSRAM(int address, int value);
}
