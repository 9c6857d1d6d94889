// A .mox file written over an existing one is the old image or the new one,
// whole, whenever the writer is killed: a build tool or a user's Ctrl-C may
// end a run at any moment, and a half-written image would be downloaded
// later as if it were good.

#include "support/Process.h"
#include "support/TempDir.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kClassPath = std::string(MORVANE_FIXTURE_DIR) + "/linkdemo;" + MORVANE_LIB_DIR;
const std::string kTarget = "Main.mox";
const std::string kTemporaryPrefix = "Main.mox.tmp-";

// Starts `morvanedirect --link` in `directory`; `traced`: stopped at its
// start under our ptrace.
pid_t StartLink(const std::string& directory, bool traced = false)
{
    pid_t pid = fork();
    if (pid == 0) {
        if (traced && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
            _exit(125);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        if (chdir(directory.c_str()) != 0)
            _exit(126);
        const char* argv[] = {MORVANEDIRECT_EXE, "--link", "--path", kClassPath.c_str(), "Main", nullptr};
        execv(MORVANEDIRECT_EXE, const_cast<char**>(argv));
        _exit(127);
    }
    return pid;
}

// Waits for the first change the run makes in `directory` (a file created,
// opened, written or renamed there); false when none came in time.
class DirectoryWatch {
public:
    explicit DirectoryWatch(const std::string& directory)
    {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0)
            inotify_add_watch(fd_, directory.c_str(), IN_CREATE | IN_OPEN | IN_MODIFY | IN_MOVED_TO | IN_CLOSE_WRITE);
    }
    ~DirectoryWatch()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    DirectoryWatch(const DirectoryWatch&) = delete;
    DirectoryWatch& operator=(const DirectoryWatch&) = delete;

    bool Valid() const { return fd_ >= 0; }
    bool WaitForChange(int timeoutMs)
    {
        pollfd descriptor{fd_, POLLIN, 0};
        return poll(&descriptor, 1, timeoutMs) == 1;
    }

private:
    int fd_ = -1;
};

// Spins for `us`: a sleep would be far coarser than the write it aims at.
void SpinMicroseconds(int us)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
    while (std::chrono::steady_clock::now() < until) {
    }
}

struct KillTally {
    int oldImage = 0;
    int newImage = 0;
    int killedAfterStart = 0; // killed at all (not ended by itself first)
};

// Checks the directory after a run: the target whole, old or new, and
// nothing else but temporary files (never the target's name).
void CheckDirectory(const TempDir& dir, const Bytes& oldImage, const Bytes& newImage, const std::string& when,
                    KillTally& tally)
{
    ASSERT_TRUE(dir.Exists(kTarget)) << when << ": the image vanished";
    Bytes now = dir.Read(kTarget);
    if (now == oldImage) {
        ++tally.oldImage;
    } else if (now == newImage) {
        ++tally.newImage;
    } else {
        FAIL() << when << ": a half-written image of " << now.size() << " bytes (old " << oldImage.size() << ", new "
               << newImage.size() << ")";
    }
    for (const std::string& name : dir.List())
        EXPECT_TRUE(name == kTarget || name.rfind(kTemporaryPrefix, 0) == 0) << when << ": stray file " << name;
}

// The old image: longer than the new one, so that a new image written over
// it in place would show the old one's tail.
Bytes OldImage()
{
    Bytes image(9000);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(0xA5 ^ i);
    return image;
}

// What the directory shows of the output: the files in it, and the target's
// identity, size and time, which any write to it changes.
std::string DirectoryState(const TempDir& dir)
{
    std::string state;
    for (const std::string& name : dir.List())
        state += name + "\n";
    struct stat target {};
    if (stat(dir.File(kTarget).c_str(), &target) == 0)
        state += std::to_string(target.st_ino) + " " + std::to_string(target.st_size) + " " +
                 std::to_string(target.st_mtim.tv_sec) + "." + std::to_string(target.st_mtim.tv_nsec);
    return state;
}

// Runs a link under ptrace and kills it at its `step`-th system call stop
// (entries and exits both count) after the first one that changed the
// directory. False when the run ended by itself before that step.
bool KillAtWriteStep(const TempDir& dir, int step)
{
    const std::string before = DirectoryState(dir);
    pid_t pid = StartLink(dir.Path(), true);
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status))
        return false; // stopped at its exec, or it failed
    ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
    int sinceChange = -1;
    int deliver = 0;
    for (;;) {
        ptrace(PTRACE_SYSCALL, pid, nullptr, deliver);
        deliver = 0;
        if (waitpid(pid, &status, 0) != pid || WIFEXITED(status) || WIFSIGNALED(status))
            return false;
        if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
            deliver = WSTOPSIG(status); // a signal of its own: let it have it
            continue;
        }
        if (sinceChange < 0 && DirectoryState(dir) != before)
            sinceChange = 0;
        if (sinceChange >= 0 && sinceChange++ == step) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return true;
        }
    }
}

TEST(MoxKillTest, KilledAtEveryStepOfTheWriteTheImageIsOldOrNewNeverHalf)
{
    TempDir dir;
    const Bytes oldImage = OldImage();
    ProcessResult clean = RunMorvane({"--link", "--path", kClassPath, "Main"}, {.workingDirectory = dir.Path()});
    ASSERT_EQ(clean.exitCode, 0) << clean.output;
    const Bytes newImage = dir.Read(kTarget);
    ASSERT_NE(newImage.size(), oldImage.size());

    KillTally tally;
    int strays = 0;
    int step = 0;
    for (; step < 1000; ++step) {
        dir.Write(kTarget, oldImage);
        bool killed = KillAtWriteStep(dir, step);
        if (!killed)
            break; // past the run's end
        CheckDirectory(dir, oldImage, newImage, "killed at step " + std::to_string(step) + " of the write", tally);
        if (HasFailure())
            return;
        // A killed run cannot remove its temporary file; each step starts
        // from the same directory.
        for (const std::string& name : dir.List()) {
            if (name != kTarget) {
                ++strays;
                unlink(dir.File(name).c_str());
            }
        }
    }
    // The write takes a few steps (create, write, flush, close, rename) and
    // the walk went through all of them to the run's end.
    EXPECT_GE(step, 5) << "the walk never reached the write";
    EXPECT_GT(tally.oldImage, 0);
    EXPECT_GT(tally.newImage, 0);
    std::cout << step << " steps from the first change to the end; the old image after " << tally.oldImage
              << ", the new one after " << tally.newImage << "; " << strays << " temporary files left by kills\n";
}

TEST(MoxKillTest, KilledAtMomentsSpreadOverTheRunTheImageIsOldOrNewNeverHalf)
{
    TempDir dir;
    const Bytes oldImage = OldImage();

    auto start = std::chrono::steady_clock::now();
    ProcessResult clean = RunMorvane({"--link", "--path", kClassPath, "Main"}, {.workingDirectory = dir.Path()});
    double runSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(clean.exitCode, 0) << clean.output;
    const Bytes newImage = dir.Read(kTarget);
    ASSERT_FALSE(newImage.empty());
    ASSERT_NE(newImage.size(), oldImage.size());

    KillTally tally;
    constexpr int kSpread = 30;  // kills spread over a whole run
    constexpr int kAimed = 30;   // kills aimed at the write
    for (int i = 0; i < kSpread + kAimed; ++i) {
        dir.Write(kTarget, oldImage);
        DirectoryWatch watch(dir.Path());
        ASSERT_TRUE(watch.Valid());
        pid_t pid = StartLink(dir.Path());
        ASSERT_GT(pid, 0);
        std::string when;
        if (i < kSpread) {
            int delayUs = static_cast<int>(runSeconds * 1.2e6 * i / kSpread);
            std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
            when = "killed " + std::to_string(delayUs) + " us after the start";
        } else {
            // As soon as the run touches the directory, and a little later
            // each time, so that the kills walk through the write.
            int delayUs = (i - kSpread) * 5;
            if (watch.WaitForChange(10000))
                SpinMicroseconds(delayUs);
            when = "killed " + std::to_string(delayUs) + " us after the first change in the directory";
        }
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        if (WIFSIGNALED(status))
            ++tally.killedAfterStart;
        CheckDirectory(dir, oldImage, newImage, when, tally);
        if (HasFatalFailure() || HasFailure())
            return;
    }
    // The kills must have hit runs in progress, some of them late enough
    // for the write, or the test proved nothing.
    EXPECT_GT(tally.killedAfterStart, (kSpread + kAimed) / 2);
    EXPECT_GT(tally.oldImage, 0);
    std::cout << "kills: " << tally.killedAfterStart << " of " << kSpread + kAimed << " runs; left the old image "
              << tally.oldImage << " times, the new one " << tally.newImage << " times\n";

    // A run that completes writes the new image whatever a killed one left.
    ProcessResult last = RunMorvane({"--link", "--path", kClassPath, "Main"}, {.workingDirectory = dir.Path()});
    EXPECT_EQ(last.exitCode, 0);
    EXPECT_EQ(dir.Read(kTarget), newImage);
}

} // namespace
