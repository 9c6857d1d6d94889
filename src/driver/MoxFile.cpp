#include "driver/MoxFile.h"

#include "errors/EError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int32_t kMaxImageSize = 65535;
constexpr int32_t kZeroTail = 20;

[[noreturn]] void ReadFailure(const char* action, const std::string& fileName, int error)
{
    throw EError(ecIDE, 3, std::string(action) + " `" + fileName + "' (" + std::to_string(error) + ")", std::strerror(error));
}

[[noreturn]] void WriteFailure(const std::string& fileName, int error)
{
    throw EError(ecIDE, 17, fileName, error, std::strerror(error));
}

// Closes the descriptor and removes the temporary file unless committed.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& target) : path_(target + ".tmp-XXXXXX")
    {
        fd_ = mkstemp(path_.data());
        created_ = fd_ >= 0;
    }
    ~TemporaryFile()
    {
        if (fd_ >= 0)
            close(fd_);
        if (created_ && !committed_)
            unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool Opened() const { return created_; }
    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }
    int Close()
    {
        int result = close(fd_);
        fd_ = -1;
        return result;
    }
    void Commit() { committed_ = true; }

private:
    std::string path_;
    int fd_ = -1;
    bool created_ = false;
    bool committed_ = false;
};

mode_t CreationMode()
{
    mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

} // namespace

MoxFileImage ReadMoxFile(const std::string& fileName)
{
    int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        ReadFailure("opening", fileName, errno);
    MoxFileImage image;
    std::vector<uint8_t>& data = image.buffer;
    uint8_t chunk[4096];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int error = errno;
            close(fd);
            ReadFailure("reading", fileName, error);
        }
        if (n == 0)
            break;
        data.insert(data.end(), chunk, chunk + n);
        if (data.size() > static_cast<size_t>(kMaxImageSize))
            break; // no need to read the rest of something that is no image
    }
    close(fd);
    if (data.empty())
        throw EError(ecIDE, 3, "reading `" + fileName + "'", "the file is empty, so it holds no image");
    if (data.size() > static_cast<size_t>(kMaxImageSize))
        throw EError(ecLNK, 8);
    image.length = static_cast<int32_t>(data.size());
    data.resize(data.size() + kZeroTail, 0);
    return image;
}

void WriteMoxFile(const std::string& fileName, const uint8_t* data, int32_t size)
{
    TemporaryFile file(fileName);
    if (!file.Opened())
        WriteFailure(fileName, errno);
    if (fchmod(file.Fd(), CreationMode()) != 0)
        WriteFailure(fileName, errno);
    size_t done = 0;
    while (done < static_cast<size_t>(size)) {
        ssize_t n = write(file.Fd(), data + done, static_cast<size_t>(size) - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            WriteFailure(fileName, n < 0 ? errno : EIO);
        done += static_cast<size_t>(n);
    }
    // The data must be on disk before the rename makes it the image, or a
    // crash could leave a complete-looking but empty file.
    if (fsync(file.Fd()) != 0 && errno != EINVAL)
        WriteFailure(fileName, errno);
    if (file.Close() != 0)
        WriteFailure(fileName, errno);
    if (rename(file.Path().c_str(), fileName.c_str()) != 0)
        WriteFailure(fileName, errno);
    file.Commit();
}
