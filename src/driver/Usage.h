#pragma once

// Prints the usage text, exactly as users and scripts know it.
void PrintUsage();
