#include "integration/ModuleEmulator.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Debian's interpreter: it has pyserial's RFC 2217 server.
constexpr const char* kPython = "/usr/bin/python3";

std::vector<uint8_t> FromHex(const std::string& hex)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

} // namespace

ModuleEmulator::ModuleEmulator(const std::vector<std::string>& args)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return;
    std::vector<std::string> argv = {kPython, MORVANE_SOURCE_DIR "/tests/integration/module_emulator.py", "--record",
                                     dir_.File("record.json")};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], 1);
        std::vector<char*> pointers;
        for (std::string& arg : argv)
            pointers.push_back(arg.data());
        pointers.push_back(nullptr);
        execv(kPython, pointers.data());
        _exit(127);
    }
    close(out[1]);
    // The script prints "PORT <n>" once it listens.
    std::string line;
    pollfd descriptor{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && poll(&descriptor, 1, 10000) > 0) {
        char chunk[64];
        ssize_t n = read(out[0], chunk, sizeof chunk);
        if (n <= 0)
            break;
        line.append(chunk, static_cast<size_t>(n));
    }
    close(out[0]);
    if (line.rfind("PORT ", 0) == 0)
        port_ = static_cast<uint16_t>(std::atoi(line.c_str() + 5));
}

ModuleEmulator::~ModuleEmulator()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

std::string ModuleEmulator::Field(const std::string& name) const
{
    std::ifstream file(dir_.File("record.json"));
    std::stringstream text;
    text << file.rdbuf();
    std::string json = text.str();
    std::string key = "\"" + name + "\": ";
    size_t at = json.find(key);
    if (at == std::string::npos)
        return "";
    at += key.size();
    if (json[at] == '"')
        return json.substr(at + 1, json.find('"', at + 1) - at - 1);
    size_t end = json[at] == '[' ? json.find(']', at) + 1 : json.find_first_of(",}", at);
    return json.substr(at, end - at);
}

std::vector<uint8_t> ModuleEmulator::Image() const { return FromHex(Field("image")); }
std::vector<uint8_t> ModuleEmulator::Received() const { return FromHex(Field("received")); }

std::vector<uint8_t> ModuleEmulator::Keys() const
{
    std::vector<uint8_t> keys;
    std::string list = Field("keys");
    std::stringstream numbers(list.size() > 2 ? list.substr(1, list.size() - 2) : "");
    for (std::string item; std::getline(numbers, item, ',');)
        keys.push_back(static_cast<uint8_t>(std::stoi(item)));
    return keys;
}

int ModuleEmulator::Resets() const { return std::atoi(Field("resets").c_str()); }

std::string ModuleEmulator::Line() const { return Field("line"); }
