#pragma once

#include "size/ImageTotals.h"
#include "size/ProgramSize.h"

#include <string>

// The report as one JSON document, for scripts and CI (docs/size.md gives
// the schema). Keys keep their order, so two reports diff line by line.
std::string SizeJson(const ProgramSize& program);
std::string SizeJson(const ImageTotals& totals);
