#include "platform/ConsoleKeys.h"
#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

namespace {

TEST(ConsoleKeysTest, BytesOfAPipeAreKeysUntilItsEnd)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "a\x00\xff", 3), 3);
    close(fds[1]);
    ConsoleKeys keys(fds[0]);
    EXPECT_FALSE(keys.IsTerminal());
    std::vector<int> read;
    while (keys.KeyWaiting())
        read.push_back(keys.ReadKey());
    EXPECT_EQ(read, (std::vector<int>{'a', 0, 0xFF}));
    EXPECT_FALSE(keys.KeyWaiting());
    EXPECT_EQ(keys.WaitFd(), -1); // nothing left to wait on: the loop must not spin on it
    EXPECT_EQ(keys.ReadKey(), -1);
    close(fds[0]);
}

TEST(ConsoleKeysTest, TerminalModeIsSetAndRestored)
{
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios before{};
    tcgetattr(slave, &before);
    ASSERT_TRUE(before.c_lflag & ICANON);
    {
        ConsoleKeys keys(slave);
        EXPECT_TRUE(keys.IsTerminal());
        termios during{};
        tcgetattr(slave, &during);
        EXPECT_FALSE(during.c_lflag & ICANON);
        EXPECT_FALSE(during.c_lflag & ECHO);
        EXPECT_TRUE(during.c_lflag & ISIG); // Ctrl-C still works

        ASSERT_EQ(write(master, "q", 1), 1);
        int key = -1;
        for (int tries = 0; tries < 200 && key < 0; ++tries)
            if (keys.KeyWaiting())
                key = keys.ReadKey();
            else
                usleep(5000);
        EXPECT_EQ(key, 'q'); // delivered without a line end
    }
    termios after{};
    tcgetattr(slave, &after);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    close(master);
    close(slave);
}

TEST(EventLoopTest, AReadableDescriptorEndsTheWait)
{
    EventLoop loop;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "k", 1), 1);
    int fired = 0;
    loop.AddTimer(60000, [&] { ++fired; });
    loop.RunOnce(fds[0]); // would block for a minute if the descriptor were ignored
    EXPECT_EQ(fired, 0);
    close(fds[0]);
    close(fds[1]);
}

} // namespace
