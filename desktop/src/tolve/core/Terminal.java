package tolve.core;

import java.io.IOException;

/**
 * Desktop stand-in: reads standard input. Unlike the module it blocks until
 * a byte arrives; at end of input it returns -1, the module's "no key"
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
}
