// What morvane-size reports, checked against the image and the linker.
#include "LinkTestSupport.h"

#include "size/ImageTotals.h"
#include "size/ProgramSize.h"
#include "size/SizeJson.h"
#include "size/SourceListing.h"
#include "support/ConsoleCapture.h"
#include "support/Process.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace {

const std::string kLibrary = MORVANE_LIB_DIR;
const std::string kFixtures = MORVANE_FIXTURE_DIR;
const std::string kExamples = std::string(MORVANE_BINARY_DIR) + "/examples/classes";

// A link made the way morvane-size makes it.
struct Measured {
    std::unique_ptr<CMOXLinker> linker = std::make_unique<CMOXLinker>();
    std::vector<PassedLimit> passed;
    std::string error;
    ProgramSize program;
};

void Measure(Measured& m, const std::string& classPath, const std::string& name)
{
    m.linker->MeasureInto(&m.passed);
    ConsoleCapture console;
    try {
        m.linker->Link(name, classPath);
        m.program = MeasureProgram(*m.linker, m.passed);
    } catch (const EError& error) {
        m.error = error.Message();
    }
}

const LimitUse& Row(const ProgramSize& program, const std::string& key)
{
    for (const LimitUse& row : program.limits)
        if (row.key == key)
            return row;
    throw std::runtime_error("no limit row " + key);
}

struct FixtureRow {
    const char* name;
    std::string folder;
    const char* mainClass;
};

const FixtureRow kFixtureRows[] = {
    {"linkdemo", kFixtures + "/linkdemo", "Main"},
    {"showcase", kFixtures + "/showcase", "demo/Showcase"},
    {"handlers", kFixtures + "/differential", "Handlers"},
    {"static init", kFixtures + "/differential", "StaticInit"},
    {"strings", kFixtures + "/differential", "StringWork"},
    {"no lines", kFixtures + "/nolines", "Divide"},
    {"Hello example", kExamples, "Hello"},
    {"Blink example", kExamples, "Blink"},
    {"Echo example", kExamples, "Echo"},
    {"Crash example", kExamples, "Crash"},
};

TEST(SizeReportTest, FiguresAddUpToTheImageAndMatchTheLinker)
{
    for (const FixtureRow& row : kFixtureRows) {
        SCOPED_TRACE(row.name);
        const std::string classPath = kLibrary + ";" + row.folder;
        Measured m;
        Measure(m, classPath, row.mainClass);
        ASSERT_EQ(m.error, "");
        EXPECT_TRUE(m.passed.empty());
        const CMOXLinker& linker = *m.linker;
        const ProgramSize& program = m.program;

        // The measuring link writes the image a link for the module writes.
        const LinkResult plain = LinkClass(classPath, row.mainClass);
        ASSERT_EQ(plain.error, "");
        EXPECT_EQ(std::vector<uint8_t>(linker.ImageData(), linker.ImageData() + linker.ImageSize()), plain.Image());

        int64_t total = program.headerBytes + program.stringIndexBytes;
        int strings = 0;
        int statics = 0;
        ASSERT_EQ(program.classes.size(), static_cast<size_t>(linker.ClassCount()));
        for (int index = 0; index < linker.ClassCount(); ++index) {
            const ClassSize& c = program.classes[static_cast<size_t>(index)];
            EXPECT_EQ(c.record + c.code + c.exceptionTables, linker.ClassSize(index)) << c.name;
            EXPECT_EQ(c.strings, linker.ClassStringBytes(index)) << c.name;
            int32_t methods = 0;
            for (const MethodSize& method : c.methods)
                methods += method.Bytes();
            EXPECT_EQ(methods, c.code + c.exceptionTables) << c.name;
            total += c.Bytes();
            strings += c.stringCount;
            statics += c.staticFields;
            // Every class but the named one and the image's own was brought
            // in by a class listed before it.
            if (!c.broughtInBy.empty()) {
                std::string by = c.broughtInBy;
                std::replace(by.begin(), by.end(), '.', '/');
                EXPECT_GE(linker.FindClassIndex(by), 0) << c.name;
                EXPECT_LT(linker.FindClassIndex(by), index) << c.name;
            }
        }
        EXPECT_EQ(total, linker.ImageSize());
        EXPECT_EQ(program.imageBytes, linker.ImageSize());
        EXPECT_EQ(strings, linker.StringCount());
        EXPECT_EQ(statics, linker.StaticFieldCount());
        EXPECT_EQ(Row(program, "classes").use, linker.ClassCount());
        EXPECT_EQ(Row(program, "staticFields").use, linker.StaticFieldCount());
        EXPECT_EQ(Row(program, "strings").use, linker.StringCount());
        EXPECT_EQ(Row(program, "imageBytes").use, linker.ImageSize());
        for (const LimitUse& limit : program.limits)
            EXPECT_FALSE(limit.passed) << limit.key;
        EXPECT_TRUE(program.classes.front().broughtInBy.empty());

        // The JSON document says the same, and parses back.
        const nlohmann::json document = nlohmann::json::parse(SizeJson(program));
        EXPECT_EQ(document["schema"], "morvane-size/1");
        EXPECT_TRUE(document["linkEndsWith"].empty());
        const nlohmann::json& image = document["image"];
        EXPECT_EQ(image["bytes"].get<int>(), linker.ImageSize());
        EXPECT_EQ(image["header"].get<int>() + image["classRecords"].get<int>() + image["code"].get<int>() +
                      image["exceptionTables"].get<int>() + image["stringIndex"].get<int>() +
                      image["strings"].get<int>(),
                  linker.ImageSize());
        ASSERT_EQ(document["classes"].size(), program.classes.size());
        int64_t classBytes = 0;
        for (const nlohmann::json& c : document["classes"])
            classBytes += c["bytes"].get<int>();
        EXPECT_EQ(classBytes + image["header"].get<int>() + image["stringIndex"].get<int>(), linker.ImageSize());
        EXPECT_EQ(document["ram"]["heap"].get<int>(), Row(program, "heapBytes").use);

        // A stored image's totals agree with the link's.
        const ImageTotals totals = ReadImageTotals("image", plain.Image());
        EXPECT_EQ(totals.imageBytes, linker.ImageSize());
        EXPECT_EQ(totals.stringCount, linker.StringCount());
        EXPECT_EQ(totals.stringIndexBytes, program.stringIndexBytes);
        EXPECT_EQ(totals.staticFieldCount, linker.StaticFieldCount());
        EXPECT_EQ(totals.ram.heap, program.ram.heap);
        EXPECT_EQ(totals.classesAndCodeBytes + totals.headerBytes + totals.stringIndexBytes + totals.stringBytes,
                  linker.ImageSize());
    }
}

// The listing names every byte once, in order, with the value the image
// holds (the page count is patched in after the listing was written); and
// shows the source line before its code.
TEST(SizeReportTest, ListingShowsEveryImageByteAndTheSource)
{
    const std::string source = std::string(MORVANE_SOURCE_DIR) + "/tests/fixtures/linkdemo";
    CMOXLinker linker;
    std::vector<PassedLimit> passed;
    linker.MeasureInto(&passed);
    SourceListing listing(linker);
    ConsoleCapture console;
    linker.Link("Main", kLibrary + ";" + kFixtures + "/linkdemo;" + source);
    const std::string& text = listing.Text();
    const std::vector<uint8_t> image(linker.ImageData(), linker.ImageData() + linker.ImageSize());

    int32_t next = 0;
    size_t at = 0;
    const auto number = [&](size_t& from) {
        size_t end = from;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])))
            ++end;
        const std::string digits = text.substr(from, end - from);
        from = end;
        return digits;
    };
    while (at < text.size()) {
        const size_t lineEnd = text.find('\n', at);
        const std::string line = text.substr(at, lineEnd - at);
        size_t p = at;
        const std::string offset = number(p);
        if (offset.empty() || p >= text.size() || text[p] != ':') {
            at = lineEnd + 1; // a line about structure or source: no byte
            continue;
        }
        if (text.compare(p, 5, ":\tdw\t") == 0) {
            ASSERT_EQ(std::stoi(offset), next) << line;
            p += 5;
            int value;
            if (text[p] == '$') {
                ++p;
                size_t end = p;
                while (std::isxdigit(static_cast<unsigned char>(text[end])))
                    ++end;
                value = std::stoi(text.substr(p, end - p), nullptr, 16);
            } else {
                value = std::stoi(number(p));
            }
            if (next != 1) {
                EXPECT_EQ(value, image.at(static_cast<size_t>(next))) << line;
            }
            ++next;
            at = lineEnd + 1;
            continue;
        }
        // A string's characters: offset, colon, character, one after another
        // (the character may be a digit, so it is taken by position).
        std::string entry = offset;
        while (true) {
            ASSERT_EQ(std::stoi(entry), next) << line;
            ASSERT_LT(p + 1, lineEnd) << line;
            EXPECT_EQ(static_cast<uint8_t>(text[p + 1]), image.at(static_cast<size_t>(next))) << line;
            ++next;
            p += 2;
            if (p >= lineEnd)
                break;
            entry = number(p);
            ASSERT_FALSE(entry.empty()) << line;
        }
        at = lineEnd + 1;
    }
    EXPECT_EQ(next, linker.ImageSize());
    EXPECT_NE(text.find("; Main.java:68: zoo[1] = new Cat();\n"), std::string::npos);
    EXPECT_NE(text.find("; (20) Class = `Main'"), std::string::npos);
    EXPECT_NE(text.find("Number of exception handlers"), std::string::npos);
    EXPECT_NE(text.find("; String index table."), std::string::npos);
}

struct LimitRow {
    const char* program;
    const char* key;
    const char* line; // the catalogue line a link for the module ends with
};

// One program beyond each limit: measured all the same, the limit marked
// with the line morvanedirect --link ends with, and every other limit left
// as it is.
TEST(SizeReportTest, ProgramsBeyondALimitAreMeasuredWithTheLimitMarked)
{
    const LimitRow rows[] = {
        {"ManyClasses", "classes", "[Error LNK-0001] Too many referenced classes."},
        {"FullStatics", "staticFields", "[Error IDE-0041] Maximum number of static fields exceeded (127)."},
        {"ManyStatics", "staticFields", "[Error LNK-0007] Too many static fields."},
        {"ManyStrings", "strings", "[Error IDE-0031] Maximum number of strings exceeded (128)."},
        {"ManyMethods", "methodTableEntries",
         "[Error LNK-0009] Maximum number of methods per class exceeded in class ManyMethods."},
        {"ManyArguments", "argumentWords", "[Error JVM-0010] Too many arguments to function."},
        {"ManyLocals", "locals", "[Error JVM-0027] Invalid local variable index."},
        {"BigImage", "imageBytes", "[Error LNK-0008] Maximum binary size exceeded."},
    };
    const std::string classPath = kLibrary + ";" + kFixtures + "/limits";
    for (const LimitRow& row : rows) {
        SCOPED_TRACE(row.program);
        const LinkResult plain = LinkClass(classPath, row.program);
        EXPECT_NE((plain.printed + plain.error).find(row.line), std::string::npos) << plain.printed << plain.error;

        Measured m;
        Measure(m, classPath, row.program);
        ASSERT_EQ(m.error, "");
        const ProgramSize& program = m.program;
        ASSERT_FALSE(program.passedLines.empty());
        EXPECT_EQ(program.passedLines.front(), row.line);
        for (const LimitUse& limit : program.limits) {
            if (limit.key == row.key) {
                EXPECT_TRUE(limit.passed);
                EXPECT_EQ(limit.error, row.line);
            } else if (limit.key != "heapBytes") {
                EXPECT_FALSE(limit.passed) << limit.key;
            }
        }
        // Passed or not, the figures still add up.
        int64_t total = program.headerBytes + program.stringIndexBytes;
        for (const ClassSize& c : program.classes)
            total += c.Bytes();
        EXPECT_EQ(total, program.imageBytes);
        const nlohmann::json document = nlohmann::json::parse(SizeJson(program));
        EXPECT_EQ(document["linkEndsWith"].front(), row.line);
        // Exactly the lines a link for the module prints at its end.
        std::string ending;
        for (const std::string& line : program.linkEndsWith)
            ending += line + "\n";
        EXPECT_EQ(ending, plain.printed + plain.error);
    }
}

ProcessResult RunSize(const std::vector<std::string>& args, const std::string& workingDirectory)
{
    ProcessOptions options;
    options.workingDirectory = workingDirectory;
    return RunProcess(MORVANE_SIZE_EXE, args, options);
}

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct CommandRow {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    const char* output; // a part of what it prints
};

// As users run it: exit codes, the failures morvanedirect --link prints,
// and nothing written but what was asked for.
TEST(SizeReportTest, CommandLine)
{
    TempDir work;
    const std::string program = kLibrary + ";" + kFixtures + "/linkdemo";
    const std::string limits = kLibrary + ";" + kFixtures + "/limits";
    const CommandRow rows[] = {
        {"report", {"--path", program, "Main"}, 0, "\nimage bytes "},
        {"json", {"--json", "--path", program, "Main"}, 0, "\"schema\": \"morvane-size/1\""},
        {"passed limit", {"--path", limits, "BigImage"}, 1,
         "A link for the module ends with:\n  [Error LNK-0008] Maximum binary size exceeded.\n"},
        {"missing class", {"--path", program, "Nothing"}, 1, "[Error JVM-0017] Unable to load class file: `Nothing'"},
        {"no class", {"--json"}, 1, "Error: No class named."},
        {"unknown option", {"--size", "Main"}, 1, "Error: Unknown option `--size'."},
        {"mox with a class", {"--mox", "x.mox", "Main"}, 1, "Error: --mox reads a stored image alone"},
        {"mox missing", {"--mox", "absent.mox"}, 1, "[Error IDE-0003] System error when opening `absent.mox'"},
    };
    for (const CommandRow& row : rows) {
        SCOPED_TRACE(row.name);
        const ProcessResult run = RunSize(row.args, work.Path());
        EXPECT_EQ(run.exitCode, row.exitCode) << run.output;
        EXPECT_NE(run.output.find(row.output), std::string::npos) << run.output;
    }
    // The same line as morvanedirect --link, for a failure that is no limit.
    const ProcessResult direct = RunMorvane({"--link", "--path", program, "Nothing"});
    const ProcessResult size = RunSize({"--path", program, "Nothing"}, work.Path());
    EXPECT_NE(direct.output.find(size.output), std::string::npos) << direct.output << size.output;
    EXPECT_FALSE(work.Exists("Main.mox"));
    EXPECT_FALSE(work.Exists("mox.out"));

    // Past the class limit the measuring link goes on, and here meets a
    // class that is not there: what a link for the module ends with is
    // shown, not that later failure.
    TempDir classes;
    for (const auto& file : std::filesystem::directory_iterator(kFixtures + "/limits"))
        if (file.path().filename().string().rfind("ManyClasses", 0) == 0 &&
            file.path().filename() != "ManyClasses$Part254.class")
            classes.Write(file.path().filename().string(), ReadFileBytes(file.path().string()));
    const ProcessResult cut = RunSize({"--path", kLibrary + ";" + classes.Path(), "ManyClasses"}, work.Path());
    EXPECT_EQ(cut.exitCode, 1);
    EXPECT_EQ(cut.output, "[Error LNK-0001] Too many referenced classes.\n"
                          "[Error LNK-0003] Unable to load class `ManyClasses$Part252'.\n");

    const ProcessResult listed = RunSize({"--list", "Main.lst", "--path", program, "Main"}, work.Path());
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_EQ(Slurp(work.Path() + "/Main.lst").rfind("0:\tdw\t164\t; Placeholder for run/debug.\n", 0), 0u);
}

struct DamagedImageRow {
    const char* name;
    size_t keep;                   // bytes kept of the good image; 0: all
    std::map<size_t, uint8_t> set; // bytes changed
    const char* why;
};

// A stored image is untrusted: each damage is named, nothing is read past it.
TEST(SizeReportTest, DamagedImagesAreRefused)
{
    const LinkResult good = LinkClass(kLibrary + ";" + kFixtures + "/linkdemo", "Main");
    ASSERT_EQ(good.error, "");
    const std::vector<uint8_t> image = good.Image();
    const size_t table = image[12] * 256u + image[13];
    const DamagedImageRow rows[] = {
        {"shorter than a header", 19, {}, "shorter than the header"},
        {"no run marker", 0, {{0, 0}}, "no run marker"},
        {"string table past the end", 0, {{12, 0xFF}, {13, 0xFF}}, "its string table lies outside it"},
        {"cut in the string records", image.size() - 3, {}, "lies past its end"},
        {"index pointing inside itself", 0, {{table + 2, image[table]}, {table + 3, image[table + 1]}},
         "is not where the last one ends"},
        {"a record longer than the image", 0, {{static_cast<size_t>(image[table] * 256 + image[table + 1]) + 2, 0x7F}},
         "lies past its end"},
        {"bytes after the last record", 0, {}, nullptr},
    };
    for (const DamagedImageRow& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> damaged(image.begin(), row.keep == 0 ? image.end() : image.begin() + row.keep);
        for (const auto& [at, value] : row.set)
            damaged.at(at) = value;
        if (row.why == nullptr)
            damaged.push_back(0);
        try {
            ReadImageTotals("x.mox", damaged);
            ADD_FAILURE() << "accepted";
        } catch (const EError& error) {
            EXPECT_TRUE(error.Is(ecIDE, 3));
            EXPECT_NE(std::string(error.Message()).find(row.why != nullptr ? row.why : "do not end it"),
                      std::string::npos)
                << error.Message();
        }
    }
}

} // namespace
