// JUnit reports as a real XML reader (Python's) reads them back: whatever
// bytes the program printed and whatever the failure says, the file parses,
// and the texts come back as the program wrote them, control characters as
// their pictures and stray bytes as Latin-1.

#include "run/JUnitReport.h"

#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

// Prints, for each report, its fields as UTF-8 in hexadecimal, separated by
// spaces: suite failures and errors, suite name, case name, time, the
// failure or error element (or "-"), its type and message, the system-out.
const char* const kReader = R"(
import sys, xml.etree.ElementTree as ET
for path in sys.argv[1:]:
    root = ET.parse(path).getroot()
    suite = root.find('testsuite')
    case = suite.find('testcase')
    bad = [e for e in case if e.tag in ('failure', 'error')]
    fields = [root.get('failures'), root.get('errors'), suite.get('name'), case.get('name'), case.get('time')]
    fields += [bad[0].tag, bad[0].get('type'), bad[0].get('message')] if bad else ['-', '-', '-']
    fields.append(case.find('system-out').text or '')
    print(' '.join(f.encode('utf-8').hex() or '.' for f in fields))
)";

std::string Hex(const std::string& text)
{
    if (text.empty())
        return ".";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

TEST(JUnitReportTest, RealReaderReadsBackWhatWasWritten)
{
    struct Case {
        const char* name;
        const char* failure; // null: passed
        bool timedOut;
        std::string systemOut;
        // What the reader sees.
        const char* failures;
        const char* errors;
        const char* element;
        const char* type;
        std::string message;
        std::string readOut;
    };
    const std::string markup = "a<b>&\"c\" ]]> 'd'";
    const Case cases[] = {
        {"passed", nullptr, false, "Hello\r\nWorld\n", "0", "0", "-", "-", "-", "Hello\r\nWorld\n"},
        {"markup in both", "expected \"<ok>\" & more", false, markup, "1", "0", "failure", "failure",
         "expected \"<ok>\" & more", markup},
        {"line ends and tabs in the message", "line 1\nline 2\r\n\tend", false, "", "1", "0", "failure", "failure",
         "line 1\nline 2\r\n\tend", ""},
        {"control bytes as their pictures", "nul\x01", false, std::string("a\0b\x1b[1m\x7f", 8), "1", "0", "failure",
         "failure", "nul\u2401", "a\u2400b\u241b[1m\x7f"},
        {"stray bytes as Latin-1, UTF-8 kept", nullptr, false, "\xe9t\xc3\xa9 \xed\xa0\x80 \xef\xbf\xbe \xf0\x9f\x98\x80",
         "0", "0", "-", "-", "-", "\u00e9t\u00e9 \u00ed\u00a0\u0080 \u00ef\u00bf\u00be \U0001F600"},
        {"a cut sequence at the end", nullptr, false, "ok\xe2\x82", "0", "0", "-", "-", "-", "ok\u00e2\u0082"},
        {"timed out with a reason", "wait-text \"ready\" timed out", true, "", "0", "1", "error", "timeout",
         "wait-text \"ready\" timed out", ""},
        {"timed out", nullptr, true, "", "0", "1", "error", "timeout", "timed out", ""},
    };

    TempDir dir;
    std::vector<std::string> files;
    for (const Case& c : cases) {
        const std::string failure = c.failure != nullptr ? c.failure : "";
        files.push_back(dir.File("report" + std::to_string(files.size()) + ".xml"));
        ASSERT_TRUE(WriteJUnitReport(files.back(), "Echo <echo.bench.toml>", "Echo & bench", 1.25,
                                     c.failure != nullptr ? &failure : nullptr, c.timedOut, c.systemOut))
            << c.name;
    }
    std::vector<std::string> args = {"-c", kReader};
    args.insert(args.end(), files.begin(), files.end());
    const ProcessResult read = RunProcess("/usr/bin/python3", args);
    ASSERT_EQ(read.exitCode, 0) << read.output;

    size_t at = 0;
    for (const Case& c : cases) {
        const size_t end = read.output.find('\n', at);
        ASSERT_NE(end, std::string::npos) << c.name << ": " << read.output;
        const std::string line = read.output.substr(at, end - at);
        at = end + 1;
        const std::string expected = Hex(c.failures) + " " + Hex(c.errors) + " " + Hex("Echo <echo.bench.toml>") +
                                     " " + Hex("Echo & bench") + " " + Hex("1.250000") + " " + Hex(c.element) + " " +
                                     Hex(c.type) + " " + Hex(c.message) + " " + Hex(c.readOut);
        EXPECT_EQ(line, expected) << c.name;
    }
    EXPECT_FALSE(WriteJUnitReport(dir.File("no/such/folder/report.xml"), "s", "c", 0, nullptr, false, ""));
}

} // namespace
