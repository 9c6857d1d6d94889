#pragma once

// The one table of every failure the tool can report. Texts are part of the
// product's interface (users and scripts match on them): never reword a row.

enum ErrorCategory : int {
    ecLast = 0, // ends the table; names no row
    ecSYS = 1,
    ecJVM = 2,
    ecLNK = 3,
    ecIDE = 4,
};

struct CatalogueRow {
    int category;
    int number;
    const char* message;  // a format; filled from typed arguments (see Format.h)
    const char* problem;  // plain text, never a format
    const char* solution; // plain text, never a format
};

// Display name of a category ("SYS", "JVM", "LNK", "IDE"; "Last" for 0).
const char* CategoryName(int category);

// The row for (category, number), or nullptr. Linear search that stops at the
// first match, so lookup does not depend on row order.
const CatalogueRow* FindCatalogueRow(int category, int number);

// All rows in table order, ending with the row whose category is ecLast.
const CatalogueRow* CatalogueRows();
