// A .mox name on the command line may name anything the file system holds;
// only a regular file is an image, and nothing else may make the run wait.

#include "driver/MoxFile.h"
#include "errors/EError.h"
#include "support/TempDir.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

struct KindRow {
    const char* name;
    // Makes `path` what the row is about; `image` names a regular image.
    std::function<void(const std::string& path, const std::string& image)> make;
    int error; // the system error the read is refused with; 0: the image is read
};

// Opens the FIFO's other end now and then, so that a reader stuck waiting
// for a writer is let go and the test fails instead of hanging.
class FifoUnblocker {
public:
    explicit FifoUnblocker(std::string path) : path_(std::move(path)), thread_([this] { Run(); }) {}
    ~FifoUnblocker()
    {
        done_ = true;
        thread_.join();
    }
    FifoUnblocker(const FifoUnblocker&) = delete;
    FifoUnblocker& operator=(const FifoUnblocker&) = delete;

private:
    void Run()
    {
        const auto start = std::chrono::steady_clock::now();
        while (!done_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (std::chrono::steady_clock::now() - start < std::chrono::seconds(3))
                continue;
            int fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                close(fd);
        }
    }

    std::string path_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

std::string Refused(const std::string& path, int error)
{
    return "[Error IDE-0003] System error when reading `" + path + "' (" + std::to_string(error) + "): " +
           std::strerror(error) + ".\n";
}

TEST(MoxFileKindsTest, OnlyARegularFileIsReadAndNothingWaits)
{
    TempDir dir;
    dir.Write("real.mox", std::vector<uint8_t>{0xA4, 0x14, 0x01});
    const KindRow rows[] = {
        {"a FIFO no one writes to", [](const std::string& path, const std::string&) { mkfifo(path.c_str(), 0600); },
         ESPIPE},
        {"a character device", [](const std::string& path, const std::string&) { symlink("/dev/null", path.c_str()); },
         ESPIPE},
        {"a directory", [](const std::string& path, const std::string&) { mkdir(path.c_str(), 0755); }, EISDIR},
        {"a link to a regular image",
         [](const std::string& path, const std::string& image) { symlink(image.c_str(), path.c_str()); }, 0},
    };
    int number = 0;
    for (const KindRow& row : rows) {
        const std::string path = dir.File("p" + std::to_string(number++) + ".mox");
        row.make(path, dir.File("real.mox"));
        FifoUnblocker unblocker(path);
        const auto start = std::chrono::steady_clock::now();
        std::string raised;
        MoxFileImage image;
        try {
            image = ReadMoxFile(path);
        } catch (const EError& error) {
            raised = error.Message();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << row.name;
        if (row.error == 0) {
            EXPECT_EQ(raised, "") << row.name;
            EXPECT_EQ(image.length, 3) << row.name;
        } else {
            EXPECT_EQ(raised, Refused(path, row.error)) << row.name;
        }
    }
}

// The temporary file the image is written to is private; the image must
// not be.
TEST(MoxFileKindsTest, AWrittenImageHasTheModeOfAPlainCreate)
{
    TempDir dir;
    uint8_t byte = 1;
    WriteMoxFile(dir.File("p.mox"), &byte, 1);
    struct stat info {};
    stat(dir.File("p.mox").c_str(), &info);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

} // namespace
