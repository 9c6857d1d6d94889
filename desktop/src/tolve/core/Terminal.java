package tolve.core;

import java.io.IOException;

/**
 * Desktop stand-in: reads standard input. Unlike the module getByte blocks
 * until a byte arrives; at end of input it returns -1, the module's "no key"
 * answer, so a program that polls sees the same value once input runs out.
 */
public final class Terminal {

    private Terminal() {
    }

    public static int getByte() {
        System.out.flush();
        try {
            return System.in.read();
        } catch (IOException e) {
            return -1;
        }
    }

    /** As on the module: asks again every 20 ms until a key comes, for ever once input has ended. */
    public static int waitByte() {
        int key;
        while ((key = getByte()) < 0) {
            CPU.delay(200);
            try {
                Thread.sleep(20);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }
        return key;
    }
}
