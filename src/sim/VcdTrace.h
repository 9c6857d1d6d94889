#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// A value change dump of the module's pins in module time (1 us): one wire
// per pin for its level (`pin0` .. `pin15`) and one for its direction
// (`dir0` .. `dir15`, 1 for an output). The header goes out when the file is
// opened; after it only changes, in time order, through a buffer.
class VcdTrace {
public:
    static constexpr int kPins = 16;

    VcdTrace() = default;
    ~VcdTrace();
    VcdTrace(const VcdTrace&) = delete;
    VcdTrace& operator=(const VcdTrace&) = delete;

    // Creates the file and writes the header and the power-on values (every
    // pin a low input). False with the system's error number otherwise.
    bool Open(const std::string& path, int& error);
    bool IsOpen() const { return file_ != nullptr; }

    // A change at `atUs`; a value equal to the one last written is no
    // change. Times never go back: an earlier one is taken as the last.
    void Level(int64_t atUs, int pin, bool high);
    void Direction(int64_t atUs, int pin, bool output);
    int64_t LastUs() const { return lastUs_; }
    // Times given from now on count from `baseUs`: a module restarted by a
    // reset goes on where the last program's trace ended.
    void SetBaseUs(int64_t baseUs) { baseUs_ = baseUs; }

    // Writes `endUs` as the dump's last time and everything buffered; false
    // with the error number when the file could not take it all.
    bool Close(int64_t endUs, int& error);

    uint64_t Changes() const { return changes_; }

    // Hands what is buffered to the system, so that a viewer sees it while
    // the simulator goes on.
    void Flush();

private:
    void Write(int64_t atUs, char value, char id);

    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::string buffer_;
    std::array<char, kPins> level_{};
    std::array<char, kPins> direction_{};
    int64_t lastUs_ = 0;
    int64_t baseUs_ = 0;
    uint64_t changes_ = 0;
    bool writeFailed_ = false;
};
