#pragma once

#include <cstdint>
#include <string>

// Process-wide settings of one run. The settings initialiser fills them before
// the options are parsed; after that only the port choice changes. The trace
// switches and the log level gate diagnostic output across all subsystems.
struct RunSettings {
    static constexpr int kMaxPorts = 20;

    int32_t PortIndex = 0;     // zero-based COM port chosen with --port
    bool PortChosen = false;   // --port named a port; otherwise every listed port is searched
    std::string PortDevice;    // a device --port named directly (a path, a URL); empty for COM numbers
    int32_t PortCount = 0;
    int32_t PortNumbers[kMaxPorts] = {};

    int32_t LogLevel = 0;
    bool TraceLinker = false;
    bool TraceLineTranslation = false;
    bool TraceClassReader = false;
    bool WriteListing = false;
    bool IgnoreEcho = false;
    bool NoImagePadding = false;
    bool ListOpcodeEquates = false;
    bool ExitOnVmException = false;
};

RunSettings& Settings();

// Back to the values every run starts with (the port list is emptied too).
void InitialiseSettings();
