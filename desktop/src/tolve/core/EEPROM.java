package tolve.core;

import java.util.Arrays;

/** Desktop stand-in: 2048 bytes in memory, erased (255) at start. */
public final class EEPROM {

    public static final int SIZE = 2048;

    private static final int[] data = new int[SIZE];

    static {
        Arrays.fill(data, 0xFF);
    }

    private EEPROM() {
    }

    public static int eeRead(int address) {
        CPU.background();
        return address >= 0 && address < SIZE ? data[address] : -1;
    }

    public static boolean eeWrite(int address, int value) {
        CPU.background();
        if (address < 0 || address >= SIZE) {
            return false;
        }
        data[address] = value & 0xFF;
        CPU.advance(5000);
        return true;
    }
}
