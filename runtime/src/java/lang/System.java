package java.lang;

import java.io.PrintStream;

public final class System {

    /** Console output to the host; see PrintStream for how text is sent. */
    public static final PrintStream out = new PrintStream();

    private System() {
    }
}
