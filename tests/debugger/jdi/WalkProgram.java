import com.sun.jdi.AbsentInformationException;
import com.sun.jdi.Bootstrap;
import com.sun.jdi.Field;
import com.sun.jdi.LocalVariable;
import com.sun.jdi.Location;
import com.sun.jdi.Method;
import com.sun.jdi.ReferenceType;
import com.sun.jdi.VirtualMachine;
import com.sun.jdi.connect.AttachingConnector;
import com.sun.jdi.connect.Connector;
import com.sun.jdi.event.ClassPrepareEvent;
import com.sun.jdi.event.Event;
import com.sun.jdi.event.EventSet;
import com.sun.jdi.request.ClassPrepareRequest;
import com.sun.jdi.request.EventRequest;
import java.io.DataInputStream;
import java.io.File;
import java.io.FileInputStream;
import java.io.IOException;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.TreeSet;

/**
 * Attaches to a JDWP server the way every IDE's debugger does (com.sun.jdi),
 * walks every class it is offered with its methods, line tables and variable
 * tables, and checks each against the class file it came from, found along
 * the class directories given. Code indices are the server's own (the
 * module's program counters), so a line table is compared by its lines, and
 * each of its locations must lie inside its method.
 *
 *   java WalkProgram <port> <class dir>[:<class dir>...] [<main class>]
 *
 * With a main class (for a desktop JVM, which loads classes as they are
 * used and offers its own by the thousand), the program runs until that
 * class is loaded, and only classes found along the path are walked; without
 * it, every class offered must have its class file there. Prints each
 * mismatch; exit status 0 when there is none, 1 otherwise, 2 for a usage
 * error.
 */
public final class WalkProgram {

    private final List<String> mismatches = new ArrayList<>();

    public static void main(String[] args) throws Exception {
        if (args.length != 2 && args.length != 3) {
            System.err.println("usage: WalkProgram <port> <class dirs, ':' between> [<main class>]");
            System.exit(2);
        }
        VirtualMachine vm = attach(Integer.parseInt(args[0]));
        WalkProgram walk = new WalkProgram();
        int classes = 0;
        try {
            if (args.length == 3) {
                runUntilLoaded(vm, args[2]);
            }
            for (ReferenceType type : vm.allClasses()) {
                File file = classFile(args[1], type.name());
                if (file == null) {
                    if (args.length == 2) {
                        walk.mismatch(type.name() + ": offered, but no class file along the path");
                    }
                    continue;
                }
                walk.check(type, ClassFileTables.read(file));
                ++classes;
            }
        } finally {
            vm.dispose();
        }
        for (String mismatch : walk.mismatches) {
            System.out.println(mismatch);
        }
        System.out.println(classes + " classes walked, " + walk.mismatches.size() + " mismatches");
        System.exit(walk.mismatches.isEmpty() && classes > 0 ? 0 : 1);
    }

    private static VirtualMachine attach(int port) throws Exception {
        for (AttachingConnector connector : Bootstrap.virtualMachineManager().attachingConnectors()) {
            if (!connector.transport().name().equals("dt_socket")) {
                continue;
            }
            Map<String, Connector.Argument> arguments = connector.defaultArguments();
            arguments.get("hostname").setValue("localhost");
            arguments.get("port").setValue(Integer.toString(port));
            return connector.attach(arguments);
        }
        throw new IllegalStateException("no socket attaching connector in this JDK");
    }

    private static void runUntilLoaded(VirtualMachine vm, String className) throws InterruptedException {
        ClassPrepareRequest request = vm.eventRequestManager().createClassPrepareRequest();
        request.addClassFilter(className);
        request.setSuspendPolicy(EventRequest.SUSPEND_ALL);
        request.enable();
        // The server holds the program with its start event's set: resuming
        // each set that is not the one asked for lets it run, where a
        // vm.resume() of our own would race with the event's suspension.
        while (true) {
            EventSet events = vm.eventQueue().remove(30000);
            if (events == null) {
                throw new IllegalStateException(className + " was not loaded within 30 s");
            }
            for (Event event : events) {
                if (event instanceof ClassPrepareEvent) {
                    return;
                }
            }
            events.resume();
        }
    }

    private static File classFile(String path, String dottedName) {
        for (String dir : path.split(":")) {
            File file = new File(dir, dottedName.replace('.', '/') + ".class");
            if (file.isFile()) {
                return file;
            }
        }
        return null;
    }

    private void mismatch(String text) {
        mismatches.add(text);
    }

    private void expectSame(String what, Object offered, Object inFile) {
        if (!offered.equals(inFile)) {
            mismatch(what + ": offered " + offered + ", the class file has " + inFile);
        }
    }

    private void check(ReferenceType type, ClassFileTables file) {
        String name = type.name();
        String source;
        try {
            source = type.sourceName();
        } catch (AbsentInformationException e) {
            source = "";
        }
        expectSame(name + " source file", source, file.sourceFile);
        TreeSet<String> fields = new TreeSet<>();
        for (Field field : type.fields()) {
            fields.add(field.name() + " " + field.signature());
        }
        expectSame(name + " fields", fields, new TreeSet<>(file.fields));
        TreeMap<String, Method> methods = new TreeMap<>();
        for (Method method : type.methods()) {
            methods.put(method.name() + method.signature(), method);
        }
        expectSame(name + " methods", methods.keySet(), file.methods.keySet());
        for (Map.Entry<String, Method> entry : methods.entrySet()) {
            ClassFileTables.MethodTables tables = file.methods.get(entry.getKey());
            if (tables != null) {
                checkMethod(name + "." + entry.getKey(), entry.getValue(), tables);
            }
        }
    }

    private void checkMethod(String what, Method method, ClassFileTables.MethodTables file) {
        TreeSet<Integer> lines = new TreeSet<>();
        try {
            for (Location location : method.allLineLocations()) {
                lines.add(location.lineNumber());
                long index = location.codeIndex();
                if (index < method.location().codeIndex()) {
                    mismatch(what + ": line " + location.lineNumber() + " at code index " + index
                            + ", before the method's start " + method.location().codeIndex());
                }
            }
        } catch (AbsentInformationException e) {
            // No line table offered: the class file must have none either.
        }
        expectSame(what + " lines", lines, file.lines);
        List<String> variables = new ArrayList<>();
        try {
            for (LocalVariable variable : method.variables()) {
                variables.add(variable.name() + " " + variable.signature() + (variable.isArgument() ? " arg" : ""));
            }
        } catch (AbsentInformationException e) {
            // As above.
        }
        Collections.sort(variables);
        List<String> expected = new ArrayList<>(file.variables);
        Collections.sort(expected);
        expectSame(what + " variables", variables, expected);
    }

    /** The tables of a class file a debugger is given: read from the file itself, not through any other tool. */
    static final class ClassFileTables {
        static final class MethodTables {
            final TreeSet<Integer> lines = new TreeSet<>();
            final List<String> variables = new ArrayList<>();
        }

        String sourceFile = "";
        final List<String> fields = new ArrayList<>();
        final TreeMap<String, MethodTables> methods = new TreeMap<>();
        private String[] utf8;

        static ClassFileTables read(File file) throws IOException {
            try (DataInputStream in = new DataInputStream(new FileInputStream(file))) {
                ClassFileTables tables = new ClassFileTables();
                tables.parse(in);
                return tables;
            }
        }

        private void parse(DataInputStream in) throws IOException {
            if (in.readInt() != 0xCAFEBABE) {
                throw new IOException("not a class file");
            }
            in.readUnsignedShort();
            in.readUnsignedShort();
            int count = in.readUnsignedShort();
            utf8 = new String[count];
            for (int i = 1; i < count; ++i) {
                int tag = in.readUnsignedByte();
                switch (tag) {
                case 1: utf8[i] = in.readUTF(); break;
                case 7: case 8: case 16: in.readUnsignedShort(); break;
                case 3: case 4: case 9: case 10: case 11: case 12: case 18: in.readInt(); break;
                case 5: case 6: in.readLong(); ++i; break;
                case 15: in.readUnsignedByte(); in.readUnsignedShort(); break;
                default: throw new IOException("constant pool tag " + tag);
                }
            }
            in.readUnsignedShort();
            in.readUnsignedShort();
            in.readUnsignedShort();
            in.skipBytes(2 * in.readUnsignedShort());
            int fieldCount = in.readUnsignedShort();
            for (int i = 0; i < fieldCount; ++i) {
                in.readUnsignedShort();
                fields.add(utf8[in.readUnsignedShort()] + " " + utf8[in.readUnsignedShort()]);
                skipAttributes(in);
            }
            int methodCount = in.readUnsignedShort();
            for (int i = 0; i < methodCount; ++i) {
                int flags = in.readUnsignedShort();
                String name = utf8[in.readUnsignedShort()];
                String descriptor = utf8[in.readUnsignedShort()];
                MethodTables method = new MethodTables();
                methods.put(name + descriptor, method);
                int attributes = in.readUnsignedShort();
                for (int a = 0; a < attributes; ++a) {
                    String attribute = utf8[in.readUnsignedShort()];
                    int length = in.readInt();
                    if (attribute.equals("Code")) {
                        readCode(in, method, argumentSlots(descriptor, (flags & 0x0008) == 0));
                    } else {
                        in.skipBytes(length);
                    }
                }
            }
            int attributes = in.readUnsignedShort();
            for (int a = 0; a < attributes; ++a) {
                String attribute = utf8[in.readUnsignedShort()];
                int length = in.readInt();
                if (attribute.equals("SourceFile")) {
                    sourceFile = utf8[in.readUnsignedShort()];
                } else {
                    in.skipBytes(length);
                }
            }
        }

        private void readCode(DataInputStream in, MethodTables method, int argumentSlots) throws IOException {
            in.readUnsignedShort();
            in.readUnsignedShort();
            in.skipBytes(in.readInt());
            in.skipBytes(8 * in.readUnsignedShort());
            int attributes = in.readUnsignedShort();
            for (int a = 0; a < attributes; ++a) {
                String attribute = utf8[in.readUnsignedShort()];
                int length = in.readInt();
                if (attribute.equals("LineNumberTable")) {
                    int count = in.readUnsignedShort();
                    for (int i = 0; i < count; ++i) {
                        in.readUnsignedShort();
                        method.lines.add(in.readUnsignedShort());
                    }
                } else if (attribute.equals("LocalVariableTable")) {
                    int count = in.readUnsignedShort();
                    for (int i = 0; i < count; ++i) {
                        in.readUnsignedShort();
                        in.readUnsignedShort();
                        String name = utf8[in.readUnsignedShort()];
                        String descriptor = utf8[in.readUnsignedShort()];
                        int slot = in.readUnsignedShort();
                        // A debugger hides `this`; arguments are the slots the descriptor fills.
                        if (name.equals("this") && slot == 0 && argumentSlots > 0) {
                            continue;
                        }
                        method.variables.add(name + " " + descriptor + (slot < argumentSlots ? " arg" : ""));
                    }
                } else {
                    in.skipBytes(length);
                }
            }
        }

        private static int argumentSlots(String descriptor, boolean instance) {
            int slots = instance ? 1 : 0;
            for (int i = 1; descriptor.charAt(i) != ')'; ++i) {
                char c = descriptor.charAt(i);
                boolean array = c == '[';
                while (c == '[') {
                    c = descriptor.charAt(++i);
                }
                if (c == 'L') {
                    i = descriptor.indexOf(';', i);
                }
                slots += !array && (c == 'J' || c == 'D') ? 2 : 1;
            }
            return slots;
        }

        private static void skipAttributes(DataInputStream in) throws IOException {
            int attributes = in.readUnsignedShort();
            for (int a = 0; a < attributes; ++a) {
                in.readUnsignedShort();
                in.skipBytes(in.readInt());
            }
        }
    }
}
