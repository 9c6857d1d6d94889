// Bench files: what a well-formed one becomes, and for each kind of mistake
// the line and the words that tell the user what to mend.

#include "bench/BenchScript.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

struct MalformedCase {
    const char* name;
    const char* text;
    int line;
    const char* what; // contained in the message
};

TEST(BenchFileTest, MalformedFilesNameTheLineAndTheMistake)
{
    const MalformedCase cases[] = {
        {"TOML syntax", "steps = [\n  { delay = \"1ms\" },\n  { delay = },\n]\n", 3, ""},
        {"a brace where an array's value should be", "steps = [\n 2 ,  },\n]\n", 2, "could not determine value type"},
        {"a character beyond ASCII between steps",
         "# caf\xc3\xa9 \"\n\nsteps = [ { key = \"\xc3\xa9\\\"\" },\n  { key = '''\"\n\xc3\xa9''''' } \xc7\x99 ]", 5,
         "expected comma or closing ']', saw '\xc7\x99'"},
        {"unknown top-level key", "timeout = \"1s\"\nstep = []\n", 2, "unknown key \"step\""},
        {"steps not an array", "\nsteps = \"delay\"\n", 2, "\"steps\" must be an array"},
        {"a step that is no table", "steps = [\n 5,\n]\n", 2, "a step must be a table"},
        {"unknown step", "steps = [\n { delay = \"1ms\" },\n { press = 3 },\n]\n", 3, "unknown step \"press\""},
        {"empty step", "steps = [ {} ]\n", 1, "empty step"},
        {"two steps in one table", "steps = [ { delay = \"1ms\", key = \"a\" } ]", 1,
         "one step per table: \"delay\" and \"key\""},
        {"unknown key", "steps = [\n\n { pulse = 3, level = 1, widht = \"1ms\" } ]", 3,
         "unknown key \"widht\" in a pulse step"},
        {"missing key", "steps = [ { pulse = 3, level = 1 } ]", 1, "a pulse step needs \"width\""},
        {"unknown key in a longhand step", "[[steps]]\npulse = 3\nlevel = 1\n\nwidth = \"1ms\"\nhigh = 1\n", 6,
         "unknown key \"high\" in a pulse step"},
        {"pin as text", "steps = [ { set-pin = \"8\", level = 1 } ]", 1, "\"set-pin\" must be a whole number 0..15"},
        {"pin out of range", "steps = [\n { set-pin = 16, level = 1 } ]", 2, "\"set-pin\" is 16, out of range 0..15"},
        {"negative pin", "steps = [ { expect-pin = -1, level = 0 } ]", 1, "\"expect-pin\" is -1, out of range 0..15"},
        {"digital level out of range", "steps = [ { set-pin = 1, level = 2 } ]", 1, "\"level\" is 2, out of range 0..1"},
        {"analog level out of range", "steps = [ { analog = 1, level = 256 } ]", 1,
         "\"level\" is 256, out of range 0..255"},
        {"time without unit", "steps = [ { delay = \"100\" } ]", 1, "\"delay\" must be a module time"},
        {"time as number", "steps = [ { delay = 100 } ]", 1, "\"delay\" must be a module time"},
        {"time below a microsecond", "steps = [ { delay = \"1.5us\" } ]", 1, "not \"1.5us\""},
        {"bad run time-out", "\n\ntimeout = \"soon\"", 3, "\"timeout\" must be a module time"},
        {"zero width", "steps = [ { pulse = 1, level = 1, width = \"0ms\" } ]", 1, "\"width\" must be more than 0"},
        {"zero period", "steps = [ { wave = 4, period = \"0ms\", high = \"1ms\" } ]", 1, "\"period\" must be more than 0"},
        {"high as long as the period", "steps = [ { wave = 4, period = \"2ms\", high = \"2000us\" } ]", 1,
         "\"high\" must be more than 0 and less than \"period\""},
        {"baud too low", "steps = [ { uart = 7, baud = 110, text = \"x\" } ]", 1, "\"baud\" is 110, out of range 300..115200"},
        {"baud too high", "steps = [ { uart = 7, baud = 230400, text = \"x\" } ]", 1, "out of range 300..115200"},
        {"empty text", "steps = [ { wait-text = \"\" } ]", 1, "\"wait-text\" is empty"},
        {"text as number", "steps = [ { uart = 7, baud = 9600, text = 65 } ]", 1, "\"text\" must be a text in quotes"},
        {"zero step time-out", "steps = [ { wait-text = \"x\", timeout = \"0s\" } ]", 1,
         "\"timeout\" of a step must be more than 0"},
        {"bad direction", "steps = [ { expect-pin = 2, level = 1, direction = \"out\" } ]", 1,
         "\"direction\" must be \"input\" or \"output\""},
        {"time-out on a step without one", "steps = [ { expect-text = \"x\", timeout = \"1s\" } ]", 1,
         "unknown key \"timeout\" in a expect-text step"},
    };
    for (const MalformedCase& c : cases) {
        BenchScript script;
        BenchError error;
        EXPECT_FALSE(ParseBenchText(c.text, "bad.toml", script, error)) << c.name;
        EXPECT_EQ(error.line, c.line) << c.name << ": " << error.Text();
        EXPECT_NE(error.what.find(c.what), std::string::npos) << c.name << ": " << error.Text();
        EXPECT_FALSE(error.what.empty()) << c.name;
        EXPECT_EQ(error.Text().rfind("bad.toml:" + std::to_string(c.line) + ": ", 0), 0u) << c.name << ": " << error.Text();
        EXPECT_TRUE(script.steps.empty()) << c.name;
    }
}

TEST(BenchFileTest, EveryStepOfTheDocumentedExample)
{
    const char* text = R"(timeout = "5s"
steps = [
  { delay = "100ms" },
  { set-pin = 8, level = 1 },
  { pulse = 3, level = 1, width = "1500us" },
  { wave = 4, period = "20ms", high = "1.5ms" },
  { rc = 5, time = "1200us" },
  { analog = 6, level = 128 },
  { uart = 7, baud = 9600, text = "AT\r\n" },
  { key = "hello." },
  { wait-text = "pressed", timeout = "1s" },
  { expect-text = "ready" },
  { fail-text = "error" },
  { expect-pin = 2, level = 1, direction = "output" },
  { wait-text = "done" },
  { expect-pin = 15, level = 0 },
]
)";
    BenchScript script;
    BenchError error;
    ASSERT_TRUE(ParseBenchText(text, "all.toml", script, error)) << error.Text();
    EXPECT_EQ(script.fileName, "all.toml");
    EXPECT_EQ(script.timeoutUs, 5'000'000);
    ASSERT_EQ(script.steps.size(), 14u);
    using K = BenchStepKind;
    struct Expected {
        K kind;
        int pin, level, direction, baud;
        int64_t durationUs, periodUs, highUs, timeoutUs;
        const char* text;
    };
    const Expected expected[] = {
        {K::bkDelay, -1, 0, -1, 0, 100'000, 0, 0, -1, ""},
        {K::bkSetPin, 8, 1, -1, 0, 0, 0, 0, -1, ""},
        {K::bkPulse, 3, 1, -1, 0, 1500, 0, 0, -1, ""},
        {K::bkWave, 4, 0, -1, 0, 0, 20'000, 1500, -1, ""},
        {K::bkRc, 5, 0, -1, 0, 1200, 0, 0, -1, ""},
        {K::bkAnalog, 6, 128, -1, 0, 0, 0, 0, -1, ""},
        {K::bkUart, 7, 0, -1, 9600, 0, 0, 0, -1, "AT\r\n"},
        {K::bkKey, -1, 0, -1, 0, 0, 0, 0, -1, "hello."},
        {K::bkWaitText, -1, 0, -1, 0, 0, 0, 0, 1'000'000, "pressed"},
        {K::bkExpectText, -1, 0, -1, 0, 0, 0, 0, -1, "ready"},
        {K::bkFailText, -1, 0, -1, 0, 0, 0, 0, -1, "error"},
        {K::bkExpectPin, 2, 1, 1, 0, 0, 0, 0, -1, ""},
        {K::bkWaitText, -1, 0, -1, 0, 0, 0, 0, -1, "done"},
        {K::bkExpectPin, 15, 0, -1, 0, 0, 0, 0, -1, ""},
    };
    for (size_t i = 0; i < script.steps.size(); ++i) {
        const BenchStep& step = script.steps[i];
        const Expected& e = expected[i];
        EXPECT_EQ(step.kind, e.kind) << "step " << i;
        EXPECT_EQ(step.line, static_cast<int>(i) + 3) << "step " << i;
        EXPECT_EQ(step.pin, e.pin) << "step " << i;
        EXPECT_EQ(step.level, e.level) << "step " << i;
        EXPECT_EQ(step.direction, e.direction) << "step " << i;
        EXPECT_EQ(step.baud, e.baud) << "step " << i;
        EXPECT_EQ(step.durationUs, e.durationUs) << "step " << i;
        EXPECT_EQ(step.periodUs, e.periodUs) << "step " << i;
        EXPECT_EQ(step.highUs, e.highUs) << "step " << i;
        EXPECT_EQ(step.timeoutUs, e.timeoutUs) << "step " << i;
        EXPECT_EQ(step.text, e.text) << "step " << i;
    }
}

TEST(BenchFileTest, OtherWellFormedFiles)
{
    struct Case {
        const char* name;
        const char* text;
        int64_t timeoutUs;
        size_t steps;
    };
    const Case cases[] = {
        {"empty file: nothing around the module", "", -1, 0},
        {"a time-out alone, none", "timeout = \"0s\"", 0, 0},
        {"steps as an array of tables", "[[steps]]\ndelay = \"1s\"\n[[steps]]\nkey = \"x\"\n", -1, 2},
        {"texts and comments beyond ASCII", "# caf\xc3\xa9\nsteps = [ { key = \"\xc7\x99\" }, { key = '\xc3\xa9' } ]", -1, 2},
        {"comments and blank lines", "# a bench\n\nsteps = [ # start\n  { delay = \"2s\" }, # wait\n]\n", -1, 1},
    };
    for (const Case& c : cases) {
        BenchScript script;
        BenchError error;
        EXPECT_TRUE(ParseBenchText(c.text, "good.toml", script, error)) << c.name << ": " << error.Text();
        EXPECT_EQ(script.timeoutUs, c.timeoutUs) << c.name;
        EXPECT_EQ(script.steps.size(), c.steps) << c.name;
    }
}

TEST(BenchFileTest, ModuleTimes)
{
    struct Case {
        const char* text;
        int64_t us;
    };
    const Case cases[] = {
        {"150ms", 150'000}, {"2s", 2'000'000}, {"500us", 500}, {"0us", 0}, {"1.5ms", 1500},
        {"0.000001s", 1}, {"2.50s", 2'500'000}, {"1000000s", 1'000'000'000'000},
        {"1000001s", -1}, {"1.0000001s", -1}, {"1.5us", -1}, {"100", -1}, {"ms", -1}, {".5s", -1},
        {"1.s", -1}, {"-1ms", -1}, {"1 ms", -1}, {"1MS", -1}, {"1min", -1}, {"", -1},
        {"99999999999999999999999us", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseModuleTimeUs(c.text), c.us) << c.text;
}

TEST(BenchFileTest, ReadsFilesAndNamesOnesItCannotRead)
{
    TempDir dir;
    dir.Write("blink.bench.toml", "steps = [\n  { delay = \"1ms\" },\n  { set-pin = 99, level = 1 },\n]\n");
    const std::string path = dir.File("blink.bench.toml");
    BenchScript script;
    BenchError error;
    EXPECT_FALSE(ReadBenchFile(path, script, error));
    EXPECT_EQ(error.Text(), path + ":3: \"set-pin\" is 99, out of range 0..15");

    EXPECT_FALSE(ReadBenchFile(dir.Path() + "/missing.toml", script, error));
    EXPECT_EQ(error.line, 0);
    EXPECT_EQ(error.Text().rfind(dir.Path() + "/missing.toml: cannot read the bench file: ", 0), 0u) << error.Text();
}

// What users copy: the example benches, and every bench in the guide's
// indented blocks, must be well-formed.
TEST(BenchFileTest, ShippedAndDocumentedBenchesParse)
{
    const std::string source = MORVANE_SOURCE_DIR;
    std::vector<std::pair<std::string, std::string>> benches; // name, text
    for (const char* name : {"examples/Blink.bench.toml", "examples/bench/Button.bench.toml",
                             "examples/bench/UartEcho.bench.toml"}) {
        const std::vector<uint8_t> bytes = ReadFileBytes(source + "/" + name);
        benches.emplace_back(name, std::string(bytes.begin(), bytes.end()));
        EXPECT_FALSE(benches.back().second.empty()) << name;
    }
    const std::vector<uint8_t> guideBytes = ReadFileBytes(source + "/docs/bench.md");
    const std::string guide(guideBytes.begin(), guideBytes.end());
    std::string block;
    int blockLine = 0, line = 0, documented = 0;
    size_t at = 0;
    while (at <= guide.size()) {
        const size_t end = std::min(guide.find('\n', at), guide.size());
        const std::string text = guide.substr(at, end - at);
        ++line;
        if (text.rfind("    ", 0) == 0) {
            if (block.empty())
                blockLine = line;
            block += text.substr(4) + "\n";
        } else if (!text.empty() || end == guide.size()) {
            if (block.rfind("steps = [", 0) == 0 || block.rfind("timeout = ", 0) == 0) {
                benches.emplace_back("docs/bench.md:" + std::to_string(blockLine), block);
                ++documented;
            }
            block.clear();
        }
        at = end + 1;
    }
    EXPECT_GE(documented, 13); // the opening example and one per step at least
    for (const auto& [name, text] : benches) {
        BenchScript script;
        BenchError error;
        EXPECT_TRUE(ParseBenchText(text, name, script, error)) << error.Text();
        EXPECT_FALSE(script.steps.empty()) << name;
    }
}

} // namespace
