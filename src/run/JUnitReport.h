#pragma once

#include <string>

// Writes one test case as a JUnit XML report, the format CI systems show:
// passed when `failureMessage` is null, else a failure with that message,
// or an error of type "timeout" when the run timed out. `systemOut` is the
// program's text. False when the file cannot be written.
bool WriteJUnitReport(const std::string& path, const std::string& suiteName, const std::string& caseName,
                      double moduleSeconds, const std::string* failureMessage, bool timedOut,
                      const std::string& systemOut);

// `text` as XML character data or attribute value: markup characters as
// entities, and every byte the module printed kept visible, though XML 1.0
// forbids control characters and a reader takes only UTF-8 (see the .cpp).
std::string XmlEscaped(const std::string& text, bool attribute);
