#pragma once

#include <string>
#include <vector>

// morvane-size: links a program as morvanedirect --link does, without
// writing an image, and reports where its bytes and slots go against the
// module's limits; or totals the bytes of a stored image. Returns the exit
// code: 0, or 1 when the link fails or passes a limit, or on a usage error.
int RunMorvaneSize(const std::vector<std::string>& args);
