#include "bench/BenchScript.h"

#include "platform/Files.h"

// The only file that includes toml++: it is heavy to compile.
//
// toml++ 3.3 checks some of its own parser states with TOML_ASSERT_ASSUME,
// which is an assert in a debug build and an optimiser assumption in a
// release build, and some malformed texts break them ("steps = [ 2, } ]"
// reaches parse_value on the '}'). The parser reports those texts as errors
// all the same once the check is gone, so it goes: a bench file must end in
// a message, never in an abort or in undefined behaviour. The library's
// preprocessor header is included once, so the definition below stands.
#include <toml++/impl/preprocessor.h>
#undef TOML_ASSERT_ASSUME
#define TOML_ASSERT_ASSUME(expr) static_assert(true)
#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <initializer_list>
#include <utility>

namespace {

// A bench file is written by hand; one larger than this is a mistake (a
// waveform or a log given by error), not a bench.
constexpr size_t kMaxBenchFileBytes = 1024 * 1024;

// Module times beyond this (about 11.5 days) are a typing mistake, and the
// runners add times together without fear of overflow.
constexpr int64_t kMaxModuleTimeUs = 1'000'000'000'000;

constexpr int kPinCount = 16;
constexpr int kMinBaud = 300;
constexpr int kMaxBaud = 115200;

enum class ArgKind : uint8_t { akTime, akPin, akText };

// One step kind: the key that names it, what that key's value is, and the
// keys it needs and may have besides.
struct StepSchema {
    const char* name;
    BenchStepKind kind;
    ArgKind argument;
    std::initializer_list<const char*> required;
    std::initializer_list<const char*> optional;
};

const std::array<StepSchema, 12>& StepSchemas()
{
    static const std::array<StepSchema, 12> schemas = {{
        {"delay", BenchStepKind::bkDelay, ArgKind::akTime, {}, {}},
        {"set-pin", BenchStepKind::bkSetPin, ArgKind::akPin, {"level"}, {}},
        {"pulse", BenchStepKind::bkPulse, ArgKind::akPin, {"level", "width"}, {}},
        {"wave", BenchStepKind::bkWave, ArgKind::akPin, {"period", "high"}, {}},
        {"rc", BenchStepKind::bkRc, ArgKind::akPin, {"time"}, {}},
        {"analog", BenchStepKind::bkAnalog, ArgKind::akPin, {"level"}, {}},
        {"uart", BenchStepKind::bkUart, ArgKind::akPin, {"baud", "text"}, {}},
        {"key", BenchStepKind::bkKey, ArgKind::akText, {}, {}},
        {"wait-text", BenchStepKind::bkWaitText, ArgKind::akText, {}, {"timeout"}},
        {"expect-text", BenchStepKind::bkExpectText, ArgKind::akText, {}, {}},
        {"fail-text", BenchStepKind::bkFailText, ArgKind::akText, {}, {}},
        {"expect-pin", BenchStepKind::bkExpectPin, ArgKind::akPin, {"level"}, {"direction"}},
    }};
    return schemas;
}

const StepSchema* FindSchema(std::string_view name)
{
    for (const StepSchema& schema : StepSchemas())
        if (name == schema.name)
            return &schema;
    return nullptr;
}

bool Contains(std::initializer_list<const char*> names, std::string_view name)
{
    return std::any_of(names.begin(), names.end(), [&](const char* candidate) { return name == candidate; });
}

std::string Quoted(std::string_view text)
{
    return "\"" + std::string(text) + "\"";
}

int LineOf(const toml::node& node, int fallback)
{
    const int line = static_cast<int>(node.source().begin.line);
    return line > 0 ? line : fallback;
}

// A failure already recorded in the parser's error; unwinds to the parse.
struct BenchFailure {};

class StepReader {
public:
    StepReader(const std::string& fileName, BenchError& error) : fileName_(fileName), error_(error) {}

    [[noreturn]] void Fail(int line, std::string what)
    {
        error_.fileName = fileName_;
        error_.line = line;
        error_.what = std::move(what);
        throw BenchFailure();
    }

    int64_t Time(const toml::node& node, std::string_view key, int line)
    {
        const std::optional<std::string_view> text = node.value<std::string_view>();
        const int64_t us = text ? ParseModuleTimeUs(*text) : -1;
        if (us < 0)
            Fail(LineOf(node, line), Quoted(key) + " must be a module time such as \"150ms\", \"2s\" or \"500us\"" +
                                         (text ? ", not " + Quoted(*text) : ""));
        return us;
    }

    int64_t Integer(const toml::node& node, std::string_view key, int line, int64_t low, int64_t high)
    {
        const toml::value<int64_t>* value = node.as_integer();
        if (value == nullptr)
            Fail(LineOf(node, line), Quoted(key) + " must be a whole number " + Range(low, high));
        if (value->get() < low || value->get() > high)
            Fail(LineOf(node, line),
                 Quoted(key) + " is " + std::to_string(value->get()) + ", out of range " + Range(low, high));
        return value->get();
    }

    std::string Text(const toml::node& node, std::string_view key, int line)
    {
        const toml::value<std::string>* value = node.as_string();
        if (value == nullptr)
            Fail(LineOf(node, line), Quoted(key) + " must be a text in quotes");
        if (value->get().empty())
            Fail(LineOf(node, line), Quoted(key) + " is empty");
        return value->get();
    }

    BenchStep Step(const toml::table& table, int line);

private:
    static std::string Range(int64_t low, int64_t high)
    {
        return std::to_string(low) + ".." + std::to_string(high);
    }

    void Value(BenchStep& step, const StepSchema& schema, std::string_view key, const toml::node& node);

    const std::string& fileName_;
    BenchError& error_;
};

void StepReader::Value(BenchStep& step, const StepSchema& schema, std::string_view key, const toml::node& node)
{
    const int line = step.line;
    if (key == schema.name) {
        switch (schema.argument) {
        case ArgKind::akTime:
            step.durationUs = Time(node, key, line);
            break;
        case ArgKind::akPin:
            step.pin = static_cast<int>(Integer(node, key, line, 0, kPinCount - 1));
            break;
        case ArgKind::akText:
            step.text = Text(node, key, line);
            break;
        }
    } else if (key == "level") {
        step.level = static_cast<int>(Integer(node, key, line, 0, step.kind == BenchStepKind::bkAnalog ? 255 : 1));
    } else if (key == "width" || key == "time") {
        step.durationUs = Time(node, key, line);
        if (key == "width" && step.durationUs == 0)
            Fail(LineOf(node, line), "\"width\" must be more than 0");
    } else if (key == "period") {
        step.periodUs = Time(node, key, line);
    } else if (key == "high") {
        step.highUs = Time(node, key, line);
    } else if (key == "timeout") {
        step.timeoutUs = Time(node, key, line);
        if (step.timeoutUs == 0)
            Fail(LineOf(node, line), "\"timeout\" of a step must be more than 0");
    } else if (key == "baud") {
        step.baud = static_cast<int>(Integer(node, key, line, kMinBaud, kMaxBaud));
    } else if (key == "text") {
        step.text = Text(node, key, line);
    } else if (key == "direction") {
        const std::optional<std::string_view> text = node.value<std::string_view>();
        if (text && *text == "input")
            step.direction = 0;
        else if (text && *text == "output")
            step.direction = 1;
        else
            Fail(LineOf(node, line), "\"direction\" must be \"input\" or \"output\"");
    }
}

BenchStep StepReader::Step(const toml::table& table, int line)
{
    // Keys in the order written, so that a message names the first mistake
    // the reader sees, not the first in toml++'s sorted order.
    std::vector<std::pair<const toml::key*, const toml::node*>> entries;
    for (const auto& [key, node] : table)
        entries.emplace_back(&key, &node);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        const toml::source_position& pa = a.first->source().begin;
        const toml::source_position& pb = b.first->source().begin;
        return pa.line != pb.line ? pa.line < pb.line : pa.column < pb.column;
    });

    const StepSchema* schema = nullptr;
    for (const auto& [key, node] : entries) {
        const StepSchema* candidate = FindSchema(key->str());
        if (candidate == nullptr)
            continue;
        if (schema != nullptr)
            Fail(line, "one step per table: " + Quoted(schema->name) + " and " + Quoted(candidate->name));
        schema = candidate;
    }
    if (schema == nullptr) {
        if (entries.empty())
            Fail(line, "empty step: a step is a table such as { delay = \"100ms\" }");
        Fail(line, "unknown step " + Quoted(entries.front().first->str()));
    }

    BenchStep step;
    step.kind = schema->kind;
    step.line = line;
    for (const auto& [key, node] : entries) {
        const std::string_view name = key->str();
        if (name != schema->name && !Contains(schema->required, name) && !Contains(schema->optional, name))
            Fail(line, "unknown key " + Quoted(name) + " in a " + schema->name + " step");
    }
    for (const char* required : schema->required)
        if (!table.contains(required))
            Fail(line, "a " + std::string(schema->name) + " step needs " + Quoted(required));
    for (const auto& [key, node] : entries)
        Value(step, *schema, key->str(), *node);

    if (step.kind == BenchStepKind::bkWave) {
        if (step.periodUs <= 0)
            Fail(line, "\"period\" must be more than 0");
        if (step.highUs <= 0 || step.highUs >= step.periodUs)
            Fail(line, "\"high\" must be more than 0 and less than \"period\"");
    }
    return step;
}

// toml++ 3.3's test for Unicode white space reaches __builtin_unreachable
// for many characters beyond ASCII (U+01D9 among them), which is undefined
// behaviour, and it asks that question of every character outside texts and
// comments. TOML allows characters beyond ASCII only inside those, so such a
// character elsewhere is a mistake this finds first: the line of the first
// one, or 0. Quoting follows TOML: basic strings have escapes, literal ones
// none, and a multi-line string may end in up to five quotes. Where this and
// toml++ could differ (an unterminated string), toml++ stops at an error
// before it reads further.
int LineOfNonAsciiOutsideTexts(std::string_view text)
{
    int line = 1;
    size_t at = 0;
    const auto quotes = [&](char quote) {
        size_t count = 0;
        while (at + count < text.size() && text[at + count] == quote)
            ++count;
        return count;
    };
    while (at < text.size()) {
        const char c = text[at];
        if (static_cast<uint8_t>(c) >= 0x80)
            return line;
        if (c == '#') {
            while (at < text.size() && text[at] != '\n')
                ++at;
            continue;
        }
        if (c != '"' && c != '\'') {
            line += c == '\n';
            ++at;
            continue;
        }
        const bool escapes = c == '"';
        const size_t opening = quotes(c);
        if (opening == 2) {
            at += 2;
            continue;
        }
        const bool multiline = opening >= 3;
        at += multiline ? 3 : 1;
        while (at < text.size()) {
            if (escapes && text[at] == '\\' && at + 1 < text.size()) {
                line += text[at + 1] == '\n';
                at += 2;
            } else if (text[at] == c) {
                const size_t closing = multiline ? quotes(c) : 1;
                if (closing >= (multiline ? 3u : 1u)) {
                    at += std::min<size_t>(closing, 5);
                    break;
                }
                at += closing;
            } else if (text[at] == '\n') {
                if (!multiline)
                    break;
                ++line;
                ++at;
            } else {
                ++at;
            }
        }
    }
    return 0;
}

void ReadScript(const toml::table& root, StepReader& reader, BenchScript& script)
{
    for (const auto& [key, node] : root) {
        const int line = static_cast<int>(key.source().begin.line);
        if (key.str() == "timeout") {
            script.timeoutUs = reader.Time(node, "timeout", line);
        } else if (key.str() != "steps") {
            reader.Fail(line, "unknown key " + Quoted(key.str()) + ": a bench file has \"timeout\" and \"steps\"");
        }
    }
    const toml::node* steps = root.get("steps");
    if (steps == nullptr)
        return;
    const toml::array* array = steps->as_array();
    if (array == nullptr)
        reader.Fail(LineOf(*steps, 1), "\"steps\" must be an array of steps such as [ { delay = \"100ms\" } ]");
    for (const toml::node& element : *array) {
        const int line = LineOf(element, LineOf(*steps, 1));
        const toml::table* table = element.as_table();
        if (table == nullptr)
            reader.Fail(line, "a step must be a table such as { delay = \"100ms\" }");
        script.steps.push_back(reader.Step(*table, line));
    }
}

} // namespace

std::string BenchError::Text() const
{
    if (line <= 0)
        return fileName + ": " + what;
    return fileName + ":" + std::to_string(line) + ": " + what;
}

bool ParseBenchText(std::string_view text, const std::string& fileName, BenchScript& script, BenchError& error)
{
    script = BenchScript();
    script.fileName = fileName;
    error = BenchError();
    StepReader reader(fileName, error);
    if (const int line = LineOfNonAsciiOutsideTexts(text)) {
        error.fileName = fileName;
        error.line = line;
        error.what = "a character beyond ASCII outside a text in quotes or a comment";
        return false;
    }
    try {
        const toml::table root = toml::parse(text, std::string_view(fileName));
        ReadScript(root, reader, script);
    } catch (const toml::parse_error& failure) {
        error.fileName = fileName;
        error.line = static_cast<int>(failure.source().begin.line);
        error.what = std::string(failure.description());
        script.steps.clear();
        return false;
    } catch (const BenchFailure&) {
        script.steps.clear();
        return false;
    }
    return true;
}

bool ReadBenchFile(const std::string& path, BenchScript& script, BenchError& error)
{
    std::vector<uint8_t> bytes;
    const int failure = ReadWholeFile(path, kMaxBenchFileBytes, bytes);
    if (failure != 0 || bytes.size() > kMaxBenchFileBytes) {
        script = BenchScript();
        script.fileName = path;
        error = BenchError();
        error.fileName = path;
        error.what = failure != 0 ? "cannot read the bench file: " + SystemErrorText(failure)
                                  : "not a bench file: larger than 1 MiB";
        return false;
    }
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return ParseBenchText(text, path, script, error);
}

int64_t ParseModuleTimeUs(std::string_view text)
{
    size_t at = 0;
    int64_t whole = 0;
    const size_t wholeStart = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        whole = whole * 10 + (text[at] - '0');
        if (whole > kMaxModuleTimeUs)
            return -1;
        ++at;
    }
    if (at == wholeStart)
        return -1;
    std::string_view fraction;
    if (at < text.size() && text[at] == '.') {
        const size_t fractionStart = ++at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9')
            ++at;
        fraction = text.substr(fractionStart, at - fractionStart);
        if (fraction.empty())
            return -1;
    }
    const std::string_view unit = text.substr(at);
    int64_t unitUs = 0;
    if (unit == "us")
        unitUs = 1;
    else if (unit == "ms")
        unitUs = 1'000;
    else if (unit == "s")
        unitUs = 1'000'000;
    else
        return -1;

    // A fraction must come to whole microseconds: "1.5ms" is 1500us, "1.5us"
    // is no module time. Trailing zeros say nothing; beyond six digits no
    // unit gives whole microseconds.
    while (!fraction.empty() && fraction.back() == '0')
        fraction.remove_suffix(1);
    if (fraction.size() > 6)
        return -1;
    int64_t numerator = 0, denominator = 1;
    for (char digit : fraction) {
        numerator = numerator * 10 + (digit - '0');
        denominator *= 10;
    }
    if (numerator * unitUs % denominator != 0)
        return -1;
    if (whole > kMaxModuleTimeUs / unitUs)
        return -1;
    const int64_t us = whole * unitUs + numerator * unitUs / denominator;
    return us > kMaxModuleTimeUs ? -1 : us;
}
