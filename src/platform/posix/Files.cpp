#include "platform/Files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes the descriptor and removes the temporary file unless committed.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& target) : path_(target + ".tmp-XXXXXX")
    {
        fd_ = mkostemp(path_.data(), O_CLOEXEC);
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

    bool Created() const { return created_; }
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

// The mode a plain create would give (mkstemp makes files private).
mode_t CreationMode()
{
    mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

} // namespace

int ReadWholeFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>& bytes, bool* opened)
{
    bytes.clear();
    // Only a regular file has an end to read to: opening a FIFO would wait
    // for a writer that may never come and reading a terminal would wait for
    // keys, so neither open nor check waits, and such files are refused as
    // files that cannot be read through (ESPIPE; EISDIR for a directory).
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (opened != nullptr)
        *opened = fd >= 0;
    if (fd < 0)
        return errno;
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        int error = errno;
        close(fd);
        return error;
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        return S_ISDIR(info.st_mode) ? EISDIR : ESPIPE;
    }
    uint8_t chunk[4096];
    int error = 0;
    while (bytes.size() <= maxBytes) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            break;
        }
        if (n == 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    close(fd);
    return error;
}

int WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size)
{
    TemporaryFile file(path);
    if (!file.Created())
        return errno;
    if (fchmod(file.Fd(), CreationMode()) != 0)
        return errno;
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(file.Fd(), data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += static_cast<size_t>(n);
    }
    // On disk before the rename makes it the file, or a crash could leave a
    // complete-looking but empty file.
    if (fsync(file.Fd()) != 0 && errno != EINVAL)
        return errno;
    if (file.Close() != 0)
        return errno;
    if (rename(file.Path().c_str(), path.c_str()) != 0)
        return errno;
    file.Commit();
    return 0;
}

std::string SystemErrorText(int error) { return std::strerror(error); }
