import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;

/**
 * Runs a module program on the desktop JVM: calls its static main() (the
 * module's entry point; a desktop JVM would look for main(String[])), and
 * reports an exception nothing caught as MorvaneDirect reports the module's:
 * class, source file and line of the place it was thrown.
 */
public class DesktopLauncher {
    public static void main(String[] args) throws Exception {
        Method main = Class.forName(args[0]).getDeclaredMethod("main");
        main.setAccessible(true);
        try {
            main.invoke(null);
        } catch (InvocationTargetException wrapped) {
            Throwable thrown = wrapped.getCause();
            System.out.flush();
            StackTraceElement where = thrown.getStackTrace()[0];
            System.out.println("[Error IDE-0028] Unhandled exception in JVM: " + thrown.getClass().getName());
            System.out.println("Exception thrown in file '" + where.getFileName() + "' at line " + where.getLineNumber());
        }
        System.out.flush();
    }
}
