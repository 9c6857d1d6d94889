#include "sim/VcdTrace.h"

#include <cerrno>

namespace {

constexpr size_t kFlushBytes = 64 * 1024;

// One printable character per wire, as the format allows: levels from '!',
// directions after them.
char LevelId(int pin) { return static_cast<char>('!' + pin); }
char DirectionId(int pin) { return static_cast<char>('!' + VcdTrace::kPins + pin); }

} // namespace

VcdTrace::~VcdTrace()
{
    int error = 0;
    if (file_)
        Close(lastUs_, error);
}

bool VcdTrace::Open(const std::string& path, int& error)
{
    file_.reset(std::fopen(path.c_str(), "wb"));
    if (!file_) {
        error = errno;
        return false;
    }
    // No date: the same run gives the same bytes.
    buffer_ = "$version morvane module simulator $end\n$timescale 1us $end\n$scope module module $end\n";
    for (int pin = 0; pin < kPins; ++pin)
        buffer_ += "$var wire 1 " + std::string(1, LevelId(pin)) + " pin" + std::to_string(pin) + " $end\n";
    for (int pin = 0; pin < kPins; ++pin)
        buffer_ += "$var wire 1 " + std::string(1, DirectionId(pin)) + " dir" + std::to_string(pin) + " $end\n";
    buffer_ += "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
    for (int pin = 0; pin < kPins; ++pin) {
        level_[static_cast<size_t>(pin)] = '0';
        direction_[static_cast<size_t>(pin)] = '0';
        buffer_ += '0';
        buffer_ += LevelId(pin);
        buffer_ += '\n';
        buffer_ += '0';
        buffer_ += DirectionId(pin);
        buffer_ += '\n';
    }
    buffer_ += "$end\n";
    lastUs_ = 0;
    return true;
}

void VcdTrace::Write(int64_t atUs, char value, char id)
{
    atUs += baseUs_;
    if (atUs > lastUs_) {
        lastUs_ = atUs;
        buffer_ += '#';
        buffer_ += std::to_string(atUs);
        buffer_ += '\n';
    }
    buffer_ += value;
    buffer_ += id;
    buffer_ += '\n';
    ++changes_;
    if (buffer_.size() >= kFlushBytes)
        Flush();
}

void VcdTrace::Level(int64_t atUs, int pin, bool high)
{
    if (!file_ || pin < 0 || pin >= kPins)
        return;
    char value = high ? '1' : '0';
    if (level_[static_cast<size_t>(pin)] == value)
        return;
    level_[static_cast<size_t>(pin)] = value;
    Write(atUs, value, LevelId(pin));
}

void VcdTrace::Direction(int64_t atUs, int pin, bool output)
{
    if (!file_ || pin < 0 || pin >= kPins)
        return;
    char value = output ? '1' : '0';
    if (direction_[static_cast<size_t>(pin)] == value)
        return;
    direction_[static_cast<size_t>(pin)] = value;
    Write(atUs, value, DirectionId(pin));
}

void VcdTrace::Flush()
{
    if (buffer_.empty() || !file_)
        return;
    if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_.get()) != buffer_.size() || std::fflush(file_.get()) != 0)
        writeFailed_ = true;
    buffer_.clear();
}

bool VcdTrace::Close(int64_t endUs, int& error)
{
    if (!file_)
        return true;
    endUs += baseUs_;
    if (endUs > lastUs_) {
        lastUs_ = endUs;
        buffer_ += '#' + std::to_string(endUs) + '\n';
    }
    Flush();
    bool ok = !writeFailed_ && std::fflush(file_.get()) == 0;
    if (!ok)
        error = errno != 0 ? errno : EIO;
    if (std::fclose(file_.release()) != 0 && ok) {
        error = errno;
        ok = false;
    }
    return ok;
}
