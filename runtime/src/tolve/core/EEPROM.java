package tolve.core;

/** Non-volatile data bytes, kept apart from the program image. */
public final class EEPROM {

    /** Number of data bytes: addresses 0..SIZE-1. */
    public static final int SIZE = 2048;

    private EEPROM() {
    }

    /** Byte at address as 0..255 (255 when never written), or -1 if out of range. */
    public static native int eeRead(int address);

    /** Stores the low 8 bits of value; false if address is out of range. Takes 5 ms. */
    public static native boolean eeWrite(int address, int value);
}
