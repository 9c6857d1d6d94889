#include "run/JUnitReport.h"

#include "platform/Files.h"

#include <cstdio>

namespace {

// The length of the well-formed UTF-8 sequence at `at` that encodes an XML
// character, or 0 when the bytes there are no such sequence.
size_t Utf8CharLength(const std::string& text, size_t at)
{
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(at);
    size_t length = 0;
    uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0u) != 0x80u)
            return 0;
        code = (code << 6) | (byte(at + i) & 0x3Fu);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE ||
        code == 0xFFFF)
        return 0;
    return length;
}

std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", seconds < 0 ? 0.0 : seconds);
    return text;
}

} // namespace

// The module prints bytes, not characters. Valid UTF-8 stays as it is; any
// other byte of 0x80 and above is taken as the Latin-1 character it would
// be on an 8-bit terminal. XML 1.0 has no way at all to carry the control
// characters below 0x20 other than tab, line feed and carriage return, not
// even as references, so those become the Unicode pictures of the control
// characters (U+2400 + byte: NUL is "␀", ESC "␛"), which a CI page shows.
std::string XmlEscaped(const std::string& text, bool attribute)
{
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<uint8_t>(text[i]);
        if (c >= 0x80) {
            const size_t length = Utf8CharLength(text, i);
            if (length > 0) {
                out.append(text, i, length);
                i += length;
            } else {
                char reference[8];
                std::snprintf(reference, sizeof reference, "&#x%02X;", c);
                out += reference;
                ++i;
            }
            continue;
        }
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += attribute ? "&quot;" : "\""; break;
        // A reader turns raw line ends and tabs in an attribute into spaces
        // and a carriage return anywhere into a line feed; references keep them.
        case '\r': out += "&#13;"; break;
        case '\n': out += attribute ? "&#10;" : "\n"; break;
        case '\t': out += attribute ? "&#9;" : "\t"; break;
        default:
            if (c < 0x20) {
                const uint32_t picture = 0x2400 + c;
                out += static_cast<char>(0xE0 | (picture >> 12));
                out += static_cast<char>(0x80 | ((picture >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (picture & 0x3F));
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    return out;
}

bool WriteJUnitReport(const std::string& path, const std::string& suiteName, const std::string& caseName,
                      double moduleSeconds, const std::string* failureMessage, bool timedOut,
                      const std::string& systemOut)
{
    // A time-out is counted apart from a failed expectation, as the exit
    // codes tell them apart: an error of type "timeout".
    const bool failed = failureMessage != nullptr && !timedOut;
    const bool error = timedOut;
    const std::string message = failureMessage != nullptr ? *failureMessage : "timed out";
    const std::string time = Seconds(moduleSeconds);
    const std::string counts = std::string(" tests=\"1\" failures=\"") + (failed ? "1" : "0") + "\" errors=\"" +
                               (error ? "1" : "0") + "\"";

    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<testsuites" + counts + " time=\"" + time + "\">\n";
    xml += "  <testsuite name=\"" + XmlEscaped(suiteName, true) + "\"" + counts + " skipped=\"0\" time=\"" + time +
           "\">\n";
    xml += "    <testcase name=\"" + XmlEscaped(caseName, true) + "\" classname=\"" + XmlEscaped(suiteName, true) +
           "\" time=\"" + time + "\">\n";
    if (failed || error) {
        const char* element = failed ? "failure" : "error";
        xml += std::string("      <") + element + " message=\"" + XmlEscaped(message, true) + "\" type=\"" +
               (failed ? "failure" : "timeout") + "\">" + XmlEscaped(message, false) + "</" + element + ">\n";
    }
    xml += "      <system-out>" + XmlEscaped(systemOut, false) + "</system-out>\n";
    xml += "    </testcase>\n  </testsuite>\n</testsuites>\n";
    return WriteFileAtomically(path, reinterpret_cast<const uint8_t*>(xml.data()), xml.size()) == 0;
}
