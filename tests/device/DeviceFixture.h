#pragma once

// A TSXComm on a driver whose ports are fake lines on a fake clock, with the
// console captured and the run settings put back afterwards.

#include "device/ScriptedModule.h"
#include "device/TSXComm.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"
#include "platform/EventLoop.h"
#include "serial/FakeSerialPort.h"
#include "serial/TCommPortDriver.h"
#include "support/ConsoleCapture.h"

#include <map>
#include <memory>
#include <string>

struct DeviceFixture {
    DeviceFixture() { InitialiseSettings(); }
    ~DeviceFixture() { InitialiseSettings(); }
    DeviceFixture(const DeviceFixture&) = delete;
    DeviceFixture& operator=(const DeviceFixture&) = delete;

    // The line behind `name` ("COM1", ...), made on first use.
    FakeLine& Line(const std::string& name = "COM1")
    {
        std::unique_ptr<FakeLine>& line = lines[name];
        if (!line)
            line = std::make_unique<FakeLine>(clock);
        return *line;
    }

    ScriptedModule& Module(const std::string& name = "COM1", ModuleScript script = {})
    {
        modules[name] = std::make_unique<ScriptedModule>(Line(name), std::move(script));
        return *modules[name];
    }

    // Connects the driver to COM1 as FindModule leaves it.
    void Connect(const std::string& name = "COM1")
    {
        Line(name);
        driver.SetComPortName(name);
        driver.SetEnableDTROnOpen(false);
        driver.Connect();
    }

    int64_t Elapsed() { return clock.NowMs() - start; }

    FakeClock clock;
    int64_t start = clock.NowMs();
    EventLoop loop;
    std::map<std::string, std::unique_ptr<FakeLine>> lines;
    std::map<std::string, std::unique_ptr<ScriptedModule>> modules;
    TCommPortDriver driver{clock, loop, [this](const std::string& name) -> std::unique_ptr<SerialPort> {
                               auto it = lines.find(name);
                               return it == lines.end() ? nullptr : MakeFakeSerialPort(name, *it->second);
                           }};
    TSXComm comm{driver};
    ConsoleCapture console;
};

// Runs `action`; the catalogue line it raised, or "" when it raised nothing.
template <class Action>
std::string RaisedLine(Action&& action)
{
    try {
        action();
    } catch (const EError& error) {
        return error.Message();
    }
    return "";
}
