#include "driver/Stages.h"

#include "device/TSXComm.h"
#include "driver/ListenLoop.h"
#include "driver/RunSettings.h"
#include "driver/TDataClass.h"
#include "errors/EError.h"
#include "platform/ConsoleKeys.h"
#include "platform/StopSignals.h"
#include "serial/TCommPortDriver.h"

namespace {

class SerialModuleSession final : public ModuleSession {
public:
    explicit SerialModuleSession(const ProgramMap* program) : program_(program), data_(&comm_, program)
    {
        const RunSettings& settings = Settings();
        driver_.SetComPortSpeed(br28800);
        driver_.SetPacketMode(pmPass);
        // DTR is the module's reset line: it stays low until we pulse it.
        driver_.SetEnableDTROnOpen(false);
        driver_.SetComPort(static_cast<TComPortNumber>(settings.PortIndex));
        if (settings.PortChosen && !settings.PortDevice.empty())
            driver_.SetComPortName(settings.PortDevice);
        comm_.SetProgramMap(program);
        comm_.FindModule();
        driver_.SetOnReceiveData([this](TCommPortDriver& sender, const uint8_t* bytes, int32_t size) {
            data_.SerialDataReceived(sender, bytes, size);
        });
    }

    void Download(uint8_t* image, int32_t length) override { comm_.DownloadMoxFile(image, length, false); }

    void Reset() override { comm_.ResetModule(true); }

    void Listen() override
    {
        // The stop flag's handlers first, so that the terminal's handlers,
        // installed next, restore the terminal and then pass the signal on.
        StopSignals stop;
        {
            ConsoleKeys keys;
            // A line that has failed (an unplugged adapter, a server or
            // simulator that went away) will bring nothing more: say so
            // instead of listening to silence for ever.
            RunListenLoop(
                keys, [this](uint8_t key) { comm_.QueueKey(key); },
                [this] {
                    if (driver_.LineFailed())
                        throw EError(ecIDE, 8, driver_.LastError());
                },
                [this] { return comm_.KeyCount() < TSXComm::kKeyQueueSize; });
        }
        // The terminal is back in line mode for the last line; the stop
        // flag's handlers stay, so a second Ctrl-C cannot cut the reply short
        // of its time-out.
        comm_.ReportWhereProgramIs(program_);
    }

private:
    // Declared in this order so that the protocol, which closes the port
    // when it goes, goes before the driver.
    const ProgramMap* program_;
    TCommPortDriver driver_;
    TSXComm comm_{driver_};
    TDataClass data_;
};

} // namespace

std::unique_ptr<ModuleSession> ConnectModule(const ProgramMap* program)
{
    return std::make_unique<SerialModuleSession>(program);
}
