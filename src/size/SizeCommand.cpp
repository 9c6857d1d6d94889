#include "size/SizeCommand.h"

#include "driver/Console.h"
#include "driver/MoxFile.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"
#include "linker/CMOXLinker.h"
#include "platform/Files.h"
#include "size/ImageTotals.h"
#include "size/ProgramSize.h"
#include "size/SizeJson.h"
#include "size/SizeTable.h"
#include "size/SourceListing.h"

#include <memory>

namespace {

const char* const kUsage =
    "Usage: morvane-size [--path <class path>] [--json] [--list <file>] <class>\n"
    "       morvane-size [--json] --mox <file>\n"
    "\n"
    "Links <class> and the classes it needs as morvanedirect --link does, writes\n"
    "no image, and reports each limit of the module with the program's use of it,\n"
    "then every class's bytes, largest first. A limit the program passes is shown\n"
    "with the error a link ends with there.\n"
    "\n"
    "  --path <class path>  directories to search for classes, separated by ';'\n"
    "  --json               the report as one JSON document\n"
    "  --list <file>        also write the listing of the image to <file>: every\n"
    "                       byte with its address and meaning, the source lines\n"
    "  --mox <file>         the byte totals of a stored image instead of a link\n"
    "  --help               this text (also -h)\n"
    "\n"
    "Exit code 0, or 1 when the link fails or passes a limit.\n";

struct SizeOptions {
    std::string className;
    std::string classPath;
    std::string listFile;
    std::string moxFile;
    bool json = false;
    bool help = false;
    std::string error;
};

SizeOptions Parse(const std::vector<std::string>& args)
{
    SizeOptions options;
    const auto value = [&](size_t& i, std::string& into) {
        if (i + 1 >= args.size()) {
            options.error = args[i] + " needs a value.";
            return;
        }
        into = args[++i];
    };
    for (size_t i = 0; i < args.size() && options.error.empty(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--path")
            value(i, options.classPath);
        else if (arg == "--list")
            value(i, options.listFile);
        else if (arg == "--mox")
            value(i, options.moxFile);
        else if (arg == "--json")
            options.json = true;
        else if (arg == "--help" || arg == "-h")
            options.help = true;
        else if (arg.size() > 1 && arg[0] == '-')
            options.error = "Unknown option `" + arg + "'.";
        else if (!options.className.empty())
            options.error = "One class only: `" + options.className + "' and `" + arg + "'.";
        else
            options.className = arg;
    }
    if (!options.error.empty() || options.help)
        return options;
    if (!options.moxFile.empty() && (!options.className.empty() || !options.listFile.empty() || !options.classPath.empty()))
        options.error = "--mox reads a stored image alone: no class, --path or --list with it.";
    else if (options.moxFile.empty() && options.className.empty())
        options.error = "No class named.";
    return options;
}

void WriteListing(const std::string& fileName, const std::string& text)
{
    const int error = WriteFileAtomically(fileName, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (error != 0)
        throw EError(ecIDE, 17, fileName, error, SystemErrorText(error));
}

int ReportImage(const SizeOptions& options)
{
    const MoxFileImage file = ReadMoxFile(options.moxFile);
    const std::vector<uint8_t> image(file.buffer.begin(), file.buffer.begin() + file.length);
    const ImageTotals totals = ReadImageTotals(options.moxFile, image);
    ConsoleText(options.json ? SizeJson(totals) : SizeTable(totals));
    for (const LimitUse& row : totals.limits)
        if (row.passed)
            return 1;
    return 0;
}

int ReportProgram(const SizeOptions& options)
{
    CMOXLinker linker;
    std::vector<PassedLimit> passed;
    linker.MeasureInto(&passed);
    std::unique_ptr<SourceListing> listing;
    if (!options.listFile.empty())
        listing = std::make_unique<SourceListing>(linker);
    try {
        linker.Link(options.className, options.classPath);
    } catch (const EError&) {
        // Past a limit the link may fail where a link for the module never
        // gets: that link ends with the limit's error, so that is shown.
        if (passed.empty())
            throw;
        for (const std::string& line : LinkEnding(passed))
            ConsoleText(line + "\n");
        return 1;
    }
    const ProgramSize program = MeasureProgram(linker, passed);
    if (listing)
        WriteListing(options.listFile, listing->Text());
    ConsoleText(options.json ? SizeJson(program) : SizeTable(program));
    // The heap has no catalogue line, but a module that halts at the start
    // fails the program as surely as a refused link.
    for (const LimitUse& row : program.limits)
        if (row.passed)
            return 1;
    return 0;
}

} // namespace

int RunMorvaneSize(const std::vector<std::string>& args)
{
    InitialiseSettings();
    const SizeOptions options = Parse(args);
    if (options.help || args.empty()) {
        ConsoleText(kUsage);
        return args.empty() ? 1 : 0;
    }
    if (!options.error.empty()) {
        ConsoleText("Error: " + options.error + "\n\n" + kUsage);
        return 1;
    }
    try {
        return options.moxFile.empty() ? ReportProgram(options) : ReportImage(options);
    } catch (const EError& error) {
        error.Print(false);
        return 1;
    }
}
