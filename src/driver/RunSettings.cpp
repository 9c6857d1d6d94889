#include "driver/RunSettings.h"

namespace {
RunSettings gSettings;
}

RunSettings& Settings() { return gSettings; }

void InitialiseSettings() { gSettings = RunSettings{}; }
