#pragma once

#include "sim/Board.h"
#include "sim/MoxAssembler.h"
#include "sim/MoxVm.h"

#include <memory>
#include <string>
#include <vector>

// A virtual machine on a bare board, with a host that records what the
// program sends.
class RecordingLink : public VmLink {
public:
    struct Message {
        uint8_t kind;
        std::vector<uint8_t> bytes;
    };
    std::vector<Message> messages;
    int keyRequests = 0;
    bool hostConnected = true;

    void SendMessage(uint8_t kind, const uint8_t* bytes, size_t size) override
    {
        messages.push_back(Message{kind, std::vector<uint8_t>(bytes, bytes + size)});
    }
    bool RequestKey() override
    {
        ++keyRequests;
        return hostConnected;
    }
    // The text of every kind-3 message, in order.
    std::string Text() const;
    const Message* Find(uint8_t kind) const;
};

struct Machine {
    explicit Machine(const std::vector<uint8_t>& image, uint32_t ramBytes = MoxVm::kDefaultRamBytes);
    MoxVm::State Run(uint64_t instructions = 2'000'000);
    int16_t Static(int index) const;

    Board board;
    RecordingLink link;
    std::unique_ptr<MoxVm> vm;
};
