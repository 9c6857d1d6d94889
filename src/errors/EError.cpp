#include "errors/EError.h"

#include "driver/Console.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Copies as much of `text` as fits, always terminated: long arguments (a deep
// path, a module's text) must never run past the fixed buffers.
void CopyCut(char (&buffer)[EError::kTextSize], const std::string& text)
{
    size_t n = text.size() < EError::kTextSize - 1 ? text.size() : EError::kTextSize - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

std::string CatalogueLine(int category, int number, const std::string& detail)
{
    char head[64];
    std::snprintf(head, sizeof head, "[Error %s-%04d] ", CategoryName(category), number);
    return head + detail + "\n";
}

std::string NotFoundLine(int number)
{
    char line[96];
    std::snprintf(line, sizeof line, "Cannot find text for error message (%d).\n", number);
    return line;
}

} // namespace

EError::EError(int category, int number, const std::vector<FormatArg>& args) : category_(category), number_(number)
{
    const CatalogueRow* row = FindCatalogueRow(category, number);
    if (row == nullptr) {
        CopyCut(message_, NotFoundLine(number));
        detail_[0] = '\0';
        return;
    }
    std::string detail = FormatMessage(row->message, args);
    CopyCut(detail_, detail);
    std::string line = CatalogueLine(category, number, detail_);
    if (line.size() > kTextSize - 1) {
        // Keep the line end, so that a cut message is still one whole line.
        line.resize(kTextSize - 2);
        line += '\n';
    }
    CopyCut(message_, line);
    problem_ = row->problem;
    solution_ = row->solution;
}

void EError::Print(bool withProblemAndSolution) const
{
    ConsoleText(message_);
    if (withProblemAndSolution && FindCatalogueRow(category_, number_) != nullptr) {
        ConsoleText("\nProblem:\n  ");
        ConsoleText(problem_);
        ConsoleText("\nSolution:\n  ");
        ConsoleText(solution_);
        ConsoleText("\n\n");
    }
}

void PrintCatalogueMessage(int category, int number, const std::vector<FormatArg>& args)
{
    const CatalogueRow* row = FindCatalogueRow(category, number);
    if (row == nullptr) {
        ConsoleText(NotFoundLine(number));
        std::exit(1);
    }
    std::string detail = FormatMessage(row->message, args);
    if (detail.size() > 1023)
        detail.resize(1023);
    ConsoleText(CatalogueLine(category, number, detail));
}
