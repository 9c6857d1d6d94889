#pragma once

#include "errors/Catalogue.h"
#include "errors/Format.h"

#include <vector>

// The one exception type of the tool. Raised by value where a failure is
// found and caught only by the few handlers the design names (the top level of
// the run, the serial receive handler, and wrappers that add context). It
// holds its texts inline so copies made while unwinding own everything.
class EError {
public:
    static constexpr int kTextSize = 1024;

    template <class... Args>
    EError(int category, int number, const Args&... args) : EError(category, number, std::vector<FormatArg>{FormatArg(args)...}) {}
    EError(int category, int number, const std::vector<FormatArg>& args);
    virtual ~EError() = default;
    EError(const EError&) = default;
    EError& operator=(const EError&) = default;

    // Prints the one-line message; with `withProblemAndSolution` also the row's
    // explanation. Every caller in the run passes false.
    virtual void Print(bool withProblemAndSolution) const;

    int Category() const { return category_; }
    int Number() const { return number_; }
    const char* Message() const { return message_; }
    const char* Detail() const { return detail_; }
    const char* Problem() const { return problem_; }
    const char* Solution() const { return solution_; }
    bool Is(int category, int number) const { return category_ == category && number_ == number; }

private:
    char message_[kTextSize];
    int category_;
    int number_;
    char detail_[kTextSize];
    const char* problem_ = nullptr;
    const char* solution_ = nullptr;
};

// Prints a catalogue line directly, without raising. A number with no row
// prints the not-found line and ends the process with exit code 1.
void PrintCatalogueMessage(int category, int number, const std::vector<FormatArg>& args);

template <class... Args>
void PrintCatalogueMessage(int category, int number, const Args&... args)
{
    PrintCatalogueMessage(category, number, std::vector<FormatArg>{FormatArg(args)...});
}

// Allocation check of the class, linker and image code: SYS 30 on null.
template <class T>
T* CheckAllocation(T* pointer)
{
    if (pointer == nullptr)
        throw EError(ecSYS, 30);
    return pointer;
}
