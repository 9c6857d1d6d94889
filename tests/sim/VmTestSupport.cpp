#include "sim/VmTestSupport.h"

#include <climits>

std::string RecordingLink::Text() const
{
    std::string text;
    for (const Message& message : messages)
        if (message.kind == 3)
            text.append(message.bytes.begin(), message.bytes.end());
    return text;
}

const RecordingLink::Message* RecordingLink::Find(uint8_t kind) const
{
    for (const Message& message : messages)
        if (message.kind == kind)
            return &message;
    return nullptr;
}

Machine::Machine(const std::vector<uint8_t>& image, uint32_t ramBytes)
{
    // The EEPROM after a download: whole 16-byte blocks.
    std::vector<uint8_t> eeprom = image;
    eeprom.resize((image.size() + 15) / 16 * 16, 0);
    vm = std::make_unique<MoxVm>(eeprom, static_cast<uint32_t>(eeprom.size()), ramBytes, board, link);
}

MoxVm::State Machine::Run(uint64_t instructions) { return vm->Run(instructions, INT64_MAX); }

int16_t Machine::Static(int index) const
{
    return static_cast<int16_t>(vm->Memory()->Read16(vm->StaticsBase() + 2u * static_cast<uint32_t>(index)));
}
