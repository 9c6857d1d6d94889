import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;

/**
 * Runs a module program on the desktop JVM: calls its static main() (the
 * module's entry point; a desktop JVM would look for main(String[])), and
 * reports an exception nothing caught as MorvaneDirect reports the module's:
 * class, source file and line of the place it was thrown.
 *
 * Where the two differ by design the report gives the module's view: an
 * exception from a static initializer is reported itself, not wrapped; and a
 * stack overflow is the module's VM error 7, a java.lang.Error.
 */
public class DesktopLauncher {
    public static void main(String[] args) throws Exception {
        try {
            Method main = Class.forName(args[0]).getDeclaredMethod("main");
            main.setAccessible(true);
            main.invoke(null);
        } catch (InvocationTargetException wrapped) {
            report(wrapped.getCause());
        } catch (ExceptionInInitializerError wrapped) {
            report(wrapped);
        }
        System.out.flush();
    }

    static void report(Throwable thrown) {
        while (thrown instanceof ExceptionInInitializerError && thrown.getCause() != null) {
            thrown = thrown.getCause();
        }
        String name = thrown instanceof StackOverflowError ? "java.lang.Error" : thrown.getClass().getName();
        System.out.flush();
        StackTraceElement where = thrown.getStackTrace()[0];
        System.out.println("[Error IDE-0028] Unhandled exception in JVM: " + name);
        System.out.println("Exception thrown in file '" + where.getFileName() + "' at line " + where.getLineNumber());
    }
}
