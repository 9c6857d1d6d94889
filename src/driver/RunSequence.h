#pragma once

#include "platform/SerialPortList.h"

#include <string>
#include <vector>

// The whole run: version line, settings, port list, options, then the stages
// (link or read the image, find the module, write the image file, download
// and reset, listen). Returns the process exit code: 0 on success or after
// usage, 1 for a usage error or any catalogue error, which is printed as its
// one line. The serial devices are looked for under `roots` (the system's
// by default; tests root the list elsewhere).
int RunMorvaneDirect(const std::vector<std::string>& args, const SerialPortRoots& roots = {});
