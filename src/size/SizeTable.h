#pragma once

#include "size/ImageTotals.h"
#include "size/ProgramSize.h"

#include <string>

// The report as a table for a person: the limits with their use, the image
// by region, every class largest first, and the methods of the largest.
std::string SizeTable(const ProgramSize& program);
// The totals of a stored image, with the limits they show.
std::string SizeTable(const ImageTotals& totals);
