package java.io;

import tolve.core.CPU;

/**
 * Console output, sent to the host as debug messages through CPU.message.
 *
 * Nothing is held back between calls: a program can stop or wait for a key at
 * any moment and everything printed so far has reached the host, so flush()
 * has nothing to do. Each print or println call copies its text, newline
 * included, through a small chunk buffer and sends it as one message when it
 * fits in CHUNK bytes, otherwise as consecutive CHUNK-byte messages. The host
 * shows message bytes in order and adds no line breaks of its own.
 *
 * Copying through one fixed buffer means printing a String allocates nothing.
 */
public class PrintStream {

    private static final int CHUNK = 32;

    private char[] chunk = new char[CHUNK];

    /** Programs use System.out; this exists so System can create it. */
    public PrintStream() {
    }

    public void flush() {
    }

    public void print(String s) {
        write(s, false);
    }

    public void print(int i) {
        write(String.valueOf(i), false);
    }

    public void print(char c) {
        chunk[0] = c;
        CPU.message(chunk, 1);
    }

    public void print(boolean b) {
        write(String.valueOf(b), false);
    }

    public void print(char[] s) {
        write(new String(s), false);
    }

    public void print(Object obj) {
        write(String.valueOf(obj), false);
    }

    public void println() {
        print('\n');
    }

    public void println(String s) {
        write(s, true);
    }

    public void println(int i) {
        write(String.valueOf(i), true);
    }

    public void println(char c) {
        chunk[0] = c;
        chunk[1] = '\n';
        CPU.message(chunk, 2);
    }

    public void println(boolean b) {
        write(String.valueOf(b), true);
    }

    public void println(char[] s) {
        write(new String(s), true);
    }

    public void println(Object obj) {
        write(String.valueOf(obj), true);
    }

    private void write(String s, boolean newline) {
        if (s == null) {
            s = "null";
        }
        int length = s.length();
        int done = 0;
        while (done < length || newline) {
            int n = length - done;
            if (n > CHUNK) {
                n = CHUNK;
            }
            s.getChars(done, done + n, chunk, 0);
            done += n;
            if (newline && done == length && n < CHUNK) {
                chunk[n++] = '\n';
                newline = false;
            }
            CPU.message(chunk, n);
        }
    }
}
