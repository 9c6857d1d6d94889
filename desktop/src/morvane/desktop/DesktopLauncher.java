package morvane.desktop;

import java.io.BufferedOutputStream;
import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.PrintStream;
import java.io.UnsupportedEncodingException;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;

/**
 * Runs a module program on the desktop JVM: calls its static main() (the
 * module's entry point; a desktop JVM would look for main(String[])), and
 * reports an exception nothing caught as MorvaneDirect reports the module's:
 * class, source file and line of the place it was thrown, on standard output
 * where the program's own output goes. The desktop's whole stack trace
 * follows on standard error.
 *
 * Exit status: 0 when main returned, 1 when the class cannot be run or an
 * exception escaped it.
 */
public final class DesktopLauncher {

    private DesktopLauncher() {
    }

    public static void main(String[] args) {
        if (args.length != 1) {
            fail("give the class that holds main(), for example Hello or demo/Showcase");
        }
        // Classes are named as the linker names them, with '/' between packages.
        String name = args[0].replace('/', '.');
        Method main = null;
        try {
            Class<?> program = Class.forName(name, false, DesktopLauncher.class.getClassLoader());
            main = program.getDeclaredMethod("main");
            if (!Modifier.isStatic(main.getModifiers())) {
                main = null;
            }
        } catch (ClassNotFoundException | NoClassDefFoundError e) {
            fail("class " + args[0] + " not found along the class path");
        } catch (NoSuchMethodException e) {
            main = null;
        }
        if (main == null) {
            fail(args[0] + " has no static main() without arguments, where a module program starts");
        }
        main.setAccessible(true);
        latin1Output();
        Throwable thrown = null;
        try {
            main.invoke(null);
        } catch (InvocationTargetException wrapped) {
            thrown = wrapped.getCause();
        } catch (Error failed) {
            // The main class's static initializer runs here, before main(); an
            // Error it throws (a stack overflow, say) comes unwrapped, the
            // other exceptions in an ExceptionInInitializerError.
            thrown = failed;
        } catch (IllegalAccessException e) {
            fail(e.toString());
        }
        System.out.flush();
        if (thrown == null) {
            return;
        }
        // A static initializer's exception arrives wrapped; the module reports
        // the exception itself.
        while (thrown instanceof ExceptionInInitializerError && thrown.getCause() != null) {
            thrown = thrown.getCause();
        }
        StackTraceElement[] trace = thrown.getStackTrace();
        String file = trace.length > 0 ? classFileSource(trace[0]) : null;
        int line = trace.length > 0 ? trace[0].getLineNumber() : -1;
        System.out.println("[Error IDE-0028] Unhandled exception in JVM: " + thrown.getClass().getName());
        System.out.println("Exception thrown in file '" + (file == null ? "" : file) + "' at line " + line);
        System.out.flush();
        thrown.setStackTrace(programFrames(trace));
        thrown.printStackTrace();
        System.exit(1);
    }

    /**
     * The module's characters are bytes, and the host shows each as it
     * comes: standard output here too writes every char 0..255 as that one
     * byte, whatever the locale's encoding, so the same program prints the
     * same bytes on both. Buffered and flushed as the JVM's own.
     */
    private static void latin1Output() {
        try {
            System.setOut(new PrintStream(new BufferedOutputStream(new FileOutputStream(FileDescriptor.out), 128), true,
                    "ISO-8859-1"));
        } catch (UnsupportedEncodingException e) {
            fail("the JVM lacks ISO-8859-1");
        }
    }

    /**
     * The source file as MorvaneDirect names it, from the class file's name
     * (the part from its last '$' dropped), not from the file the class was
     * compiled from: a class declared in another class's file is reported
     * under a name of its own.
     */
    private static String classFileSource(StackTraceElement frame) {
        String name = frame.getClassName();
        name = name.substring(name.lastIndexOf('.') + 1);
        int dollar = name.lastIndexOf('$');
        return (dollar >= 0 ? name.substring(0, dollar) : name) + ".java";
    }

    /** The frames down to the program's main(), without the reflection and the launcher below it. */
    private static StackTraceElement[] programFrames(StackTraceElement[] trace) {
        int end = 0;
        while (end < trace.length && !isReflection(trace[end].getClassName())) {
            end++;
        }
        StackTraceElement[] frames = new StackTraceElement[end];
        System.arraycopy(trace, 0, frames, 0, end);
        return frames;
    }

    private static boolean isReflection(String className) {
        return className.startsWith("jdk.internal.reflect.") || className.startsWith("sun.reflect.")
                || className.equals(Method.class.getName());
    }

    private static void fail(String why) {
        System.out.flush();
        System.err.println("morvane-desktop: " + why);
        System.exit(1);
    }
}
