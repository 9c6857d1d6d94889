#pragma once

// A TSXComm whose port is a fake line on a fake clock, as the device tests
// drive it: waits move the clock instead of taking time, so no time-out of
// the protocol costs the fuzzer a real second.

#include "device/ScriptedModule.h"
#include "device/TSXComm.h"
#include "platform/EventLoop.h"
#include "serial/FakeSerialPort.h"
#include "serial/TCommPortDriver.h"

#include <memory>
#include <optional>
#include <string>

struct FuzzDevice {
    static constexpr const char* kPortName = "COM1";

    FuzzDevice()
        : driver(clock, loop, [this](const std::string& name) -> std::unique_ptr<SerialPort> {
              return name == kPortName ? MakeFakeSerialPort(name, line) : nullptr;
          })
    {
        driver.SetComPortName(kPortName);
        driver.SetEnableDTROnOpen(false);
    }

    // Connects as FindModule leaves the driver, without a module on the line.
    void Connect() { driver.Connect(); }

    FakeClock clock;
    FakeLine line{clock};
    std::optional<ScriptedModule> module;
    EventLoop loop;
    TCommPortDriver driver;
    TSXComm comm{driver};
};
