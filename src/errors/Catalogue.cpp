#include "errors/Catalogue.h"

namespace {

const char* const kCategoryNames[] = {"Last", "SYS", "JVM", "LNK", "IDE"};

constexpr const char* kCorrupt = "There is a corruption in the class file or a bug in the class loader.";
constexpr const char* kReport = "Report the error to technical support.";
constexpr const char* kInternal = "This is an internal error.";
constexpr const char* kRecompileOrReport = "Try recompiling the class, or report the error to technical support.";
constexpr const char* kUnusedTool = "This tool does not use this feature.";

// Rows in the order SYS 30, JVM 1-32, LNK 1-10, IDE 1-50, IDE 52-56, then the end row.
const CatalogueRow kRows[] = {
    {ecSYS, 30, "Out of memory.", "There was not enough memory to complete the requested action.", "Buy a better computer."},

    {ecJVM, 1, "Too many methods in class.", "The class declares more methods than the virtual machine can address.", "Split the class into smaller classes."},
    {ecJVM, 2, "Stack overflow.", "The program used more stack than is available.", "Reduce the depth of method calls or the number of local variables."},
    {ecJVM, 3, "Stack underflow.", "An instruction took more values from the stack than it held.", kRecompileOrReport},
    {ecJVM, 4, "Undefined instruction.", "An instruction that does not exist was found in the code.", kRecompileOrReport},
    {ecJVM, 5, "No `return' instruction found.", "A method ends without returning.", kRecompileOrReport},
    {ecJVM, 6, "Divide by zero.", "The program divided a number by zero.", "Check the divisor before dividing."},
    {ecJVM, 7, "Constant pool index out of range.", kCorrupt, kRecompileOrReport},
    {ecJVM, 8, "Unable to resolve function name.", "A method named in the code could not be found.", "Check that all classes of the program are on the class path."},
    {ecJVM, 9, "Constant pool full.", "The class holds more constants than can be handled.", "Split the class into smaller classes."},
    {ecJVM, 10, "Too many arguments to function.", "A method takes more than 63 argument words (this included), more than the module handles.", "Pass fewer arguments, for example by grouping them in an object."},
    {ecJVM, 11, "Unable to resolve local variable name.", "A local variable could not be found in the debugging information.", "Compile the class with the `-g' flag."},
    {ecJVM, 12, "Program buffer overflow.", "The program is too large for the buffer that holds it.", "Reduce the size of your program."},
    {ecJVM, 13, "No `Code' attribute for method.", "A method that should have code has none.", kRecompileOrReport},
    {ecJVM, 14, "No method found for `%s'.", "A method could not be found by name.", "This indicates an internal error."},
    {ecJVM, 15, "Method arguments corrupt.", "The arguments of a method call could not be decoded.", kRecompileOrReport},
    {ecJVM, 16, "Reference to `this' is null in function call.", "A method was called on a null reference.", "Check that the object exists before calling its methods."},
    {ecJVM, 17, "Unable to load class file: `%s', '%s'.", "The file does not exist or you do not have permission to read it.", "Check that the file exists and you have the correct permissions."},
    {ecJVM, 18, "File does not contain a Java class: `%s'.", "The file is not a Java class file or it is corrupt.", "Check the path is correct and replace the file if necessary."},
    {ecJVM, 19, "Cannot read Java class file: `%s'. Version not supported.", "The version of the class file is either too new or too old.", "Try recompiling the class with a different compiler version."},
    {ecJVM, 20, "Java class file corrupt: `%s'.", kCorrupt, kReport},
    {ecJVM, 21, "Unknown tag (%d) in java class file: `%s'.", kCorrupt, kReport},
    {ecJVM, 22, "Unknown parameter (`%c') in definition of method `%s'.", kCorrupt, kRecompileOrReport},
    {ecJVM, 23, "Code index out of range.", kCorrupt, kRecompileOrReport},
    {ecJVM, 24, "No debug info in class file `%s'.", "The class file carries no debugging information.", "Compile the class with the `-g' flag."},
    {ecJVM, 25, "Unknown parameter (`%c').", "A method descriptor holds a type that is not known.", kRecompileOrReport},
    {ecJVM, 26, "No line number info in class file `%s'.", "The line number information could not be found. Either the class was not compiled with debugging information or a compiler generated method is being executed.", "Compile the class with the `-g' flag, or use 'run' rather than 'step'."},
    {ecJVM, 27, "Invalid local variable index.", "A method has more than 127 local variables besides its arguments, more than the module handles.", "Split the method, or keep fewer variables alive in it at once."},
    {ecJVM, 28, "Cannot find linked field (%s.%s).", "The named field could not be found.", kReport},
    {ecJVM, 29, "Method %s::%s contains a constant out of range (%s).", "The class contains a constant which is out of the range allowed in a MOX file.", "Restrict variables to those allowed in MOX files."},
    {ecJVM, 30, "Unimplemented bytecode (%d).", "An unimplemented bytecode was encountered.", "Check that your source file complies with the JavaCard specification."},
    {ecJVM, 31, "Cannot find linked method (%s.%s).", "The named method could not be found.", kReport},
    {ecJVM, 32, "Interfaces are not currently supported.", "Interfaces are not support in this version.", "You tried to load or link a class that uses interfaces. Report that you want to use interfaces to technical support."},

    {ecLNK, 1, "Too many referenced classes.", "Only %d classes can be referenced in a single program.", "Reference fewer classes."},
    {ecLNK, 2, "No suitable 'main' method found.", "A class must contain a method with the prototype: `public static void main()'.", "Add a suitable `main' method."},
    {ecLNK, 3, "Unable to load class `%s'.", "The class file could not be found or loaded.", "Check that the .class file exists."},
    {ecLNK, 4, "Unknown native method `%s.%s'.", "The named native method was not listed in the native method table.", "New native methods cannot be defined."},
    {ecLNK, 5, "Linking error.", "The program could not be linked.", "Check the messages printed before this one."},
    {ecLNK, 6, "Too many 'main' methods.", "There is more than one method called 'main'.", "A program should contain only one method called 'main'."},
    {ecLNK, 7, "Too many static fields.", "There is a limit of 127 static fields per mox file.", "Modify you program so it uses fewer static fields."},
    {ecLNK, 8, "Maximum binary size exceeded.", "Your program is larger than the Morvane's EEPROM can contain.", "Reduce the size of your program."},
    {ecLNK, 9, "Maximum number of methods per class exceeded in class %s.", "Your class has too many methods.", "Reduce the number of methods in the class."},
    {ecLNK, 10, "Unsupported float or long operation.", "Morvane does not support floating point or long types.", "Remove the floating point or long variables."},

    {ecIDE, 1, "Internal IDE error (%d).", kInternal, kReport},
    {ecIDE, 2, "Unable to open file `%s'.", "The file could not be opened.", "Check that the file exists and you have permission to read it."},
    {ecIDE, 3, "System error when %s: %s.", "The operating system reported an error.", "Check the file or device named in the message."},
    {ecIDE, 4, "Attempt to save an un-named file.", "A file without a name cannot be saved.", "Give the file a name first."},
    {ecIDE, 5, "A file must be saved before it can be compiled.", "The file has changes that are not saved.", "Save the file, then compile it."},
    {ecIDE, 6, "Could not open the serial port: %s.", "The serial port could not be opened.", "Make sure another program is not already using the serial port."},
    {ecIDE, 7, "Error writing to the serial port (%d).", "The serial port could not be written to.", "Make sure the serial cable is connected and that another program is not using the same serial port."},
    {ecIDE, 8, "Error reading from the serial port (%d).", "The serial port could not be read from.", "Make sure the serial cable is connected."},
    {ecIDE, 9, "Error communicating over the serial port (checksum failed).", "The receieved data was corrupted.", "Make sure the serial cable is connected securely."},
    {ecIDE, 10, "Error communicating over the serial port (corrupt packet $%2.2X).", "The receieved data was corrupted.", "Make sure the serial cable is connected securely."},
    {ecIDE, 11, "Buffer overrun.", "The read buffer was not large enough.", kReport},
    {ecIDE, 12, "Could not find compiler.", "The Java compiler could not be found.", kUnusedTool},
    {ecIDE, 13, "Not enough memory to run the compiler.", "There was not enough memory to start the compiler.", "Close other programs and try again."},
    {ecIDE, 14, "Cannot run compiler (%d, '%s').", "The Java compiler could not be started.", kUnusedTool},
    {ecIDE, 15, "Stack trace is corrupt.", "The stack trace sent by the Morvane could not be decoded.", "Download the program again and retry."},
    {ecIDE, 16, "Unable to do line number translation for pc = %d.", "The translation from the program counter to a line number could not be performed.", "The .mox file on the device is probably not current with the one in memory. Try downloading again."},
    {ecIDE, 17, "Unable to open file for writing `%s' (%d, %s).", "The specified file could not be opened for writing.", "Check that the file is not open in another application."},
    {ecIDE, 18, "Type not implemented in debugger (%s).", "The debugger cannot show values of this type.", kUnusedTool},
    {ecIDE, 19, "Unable to find class (%s).", "The linker could not locate the specified class.", kReport},
    {ecIDE, 20, "Unable to find a breakable line.", "No line of code could take a breakpoint.", kUnusedTool},
    {ecIDE, 21, "Unable to decode compiler message.", "A message of the compiler could not be understood.", kUnusedTool},
    {ecIDE, 22, "Error reading from the serial port (timeout).", "The serial port could not be read from.", "Make sure the serial cable is connected."},
    {ecIDE, 23, "Unknown message from the JVM.", "The Morvane sent a message that is not known.", "Check that the firmware matches this version of the tool."},
    {ecIDE, 24, "Unknown bytecode in the MOX file (%s).", "An unknown bytecode occurred in the JVM.", "Ensure that your program does not contain operations which are not permitted."},
    {ecIDE, 25, "Invalid bytecode sent from JVM ($%2.2X).", "The Morvane reported an instruction that does not exist.", "Download the program again and retry."},
    {ecIDE, 26, "Aborting a possible endless loop.", "An operation did not finish in the expected time.", "Check the program for a loop that never ends."},
    {ecIDE, 27, "Binary too long.", kInternal, kReport},
    {ecIDE, 28, "Unhandled exception in JVM: %s", "There was an unhandled exception.", "This indicates an error in your code. See the Morvane manual."},
    {ecIDE, 29, "Invalid class offset.", kInternal, kReport},
    {ecIDE, 30, "Unable to find constant pool string.", kInternal, kReport},
    {ecIDE, 31, "Maximum number of strings exceeded (%d).", "The current version has a limit on the maximum number of static strings.", "Use fewer strings in your program."},
    {ecIDE, 32, "String too long.", "A text is longer than can be handled.", "Use a shorter text."},
    {ecIDE, 33, "Problem invoking the external compiler: %s", "The Java compiler could not be started.", kUnusedTool},
    {ecIDE, 34, "Problem reading compiler output (%d)", "The output of the compiler could not be read.", kUnusedTool},
    {ecIDE, 35, "Error writing to the serial port. Received byte not expected (%d)", "The Morvane answered with a byte that was not expected.", "Make sure the serial cable is connected securely."},
    {ecIDE, 36, "Error reading from the serial port (timeout waiting for echo).", "A byte sent to the Morvane did not come back.", "Make sure the serial cable is connected."},
    {ecIDE, 37, "Test file name expected.", "The command line names no file.", "Give the name of the file to use."},
    {ecIDE, 38, "Class path expected.", "The command line gives no class path.", "Give the class path with --path."},
    {ecIDE, 39, "Unknown option on command line: '%s'.", "The command line holds an option that is not known.", "Run the tool with --help to see the options."},
    {ecIDE, 40, "Class compiled without debug information: '%s'.", "The class carries no line numbers, so exceptions cannot be traced to a line.", "Compile the class with the `-g' flag."},
    {ecIDE, 41, "Maximum number of static fields exceeded (%d).", "Your program uses too many static fields.", "Redesign the program to use fewer static fields."},
    {ecIDE, 42, "Unknown unhandled exception in JVM (%d).", kInternal, kReport},
    {ecIDE, 43, "Morvane did not respond to reset.", "The Morvane did not respond after being reset.", "Ensure that the Morvane is properly connected to your PC."},
    {ecIDE, 44, "File must be saved before compiling.", "The file has changes that are not saved.", "Save the file, then compile it."},
    {ecIDE, 45, "Action terminated by user.", "The action was stopped before it finished.", "Start the action again when you are ready."},
    {ecIDE, 46, "Morvane not found on serial port.", "The Morvane was not connected to the serial port.", "Check that the correct serial port is selected and the Morvane is connected."},
    {ecIDE, 47, "Another device connected to the serial port.", "The device connected to the serial port is not a Morvane.", "Check that the correct serial port is selected."},
    {ecIDE, 48, "Internal error.", "An internal error occured in the linker.", "Report the problem to technical support."},
    {ecIDE, 49, "Cannot open variables while Morvane is running.", "Variables can only be shown while the program is stopped.", "Stop the program first."},
    {ecIDE, 50, "Error loading the project file.", "The project file could not be read.", kUnusedTool},
    {ecIDE, 52, "Incompatible firmware revision ($%x).", "The firmware in the Morvane is not compatible with this version of the IDE.", "Get the correct version of the IDE to work with the firmware in the Morvane you have."},
    {ecIDE, 53, "Terminal window queue overflowed.", "Too many characters were typed into the terminal queue before the Morvane had a chance to receive them.", "Try typing slower, or pasting a smaller amount of text."},
    {ecIDE, 54, "Unable to find a Morvane on any port.", "It was not possible to find a connected Morvane.", "Check that the Morvane is connected and powered up."},
    {ecIDE, 55, "Morvane did not complete power-on-reset.", "The Morvane did not finish starting up.", "Check the power supply and reset the Morvane."},
    {ecIDE, 56, "Possible Morvane on %s did not respond.", "It appears that a Morvane is connected but it did not repond correctly.", "Try resetting the Morvane again."},

    {ecLast, 0, nullptr, nullptr, nullptr},
};

} // namespace

const char* CategoryName(int category)
{
    if (category < 0 || category >= static_cast<int>(sizeof kCategoryNames / sizeof kCategoryNames[0]))
        return "?";
    return kCategoryNames[category];
}

const CatalogueRow* FindCatalogueRow(int category, int number)
{
    for (const CatalogueRow* row = kRows; row->category != ecLast; ++row)
        if (row->category == category && row->number == number)
            return row;
    return nullptr;
}

const CatalogueRow* CatalogueRows() { return kRows; }
