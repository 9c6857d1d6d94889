#include "platform/EventLoop.h"

#include <gtest/gtest.h>

namespace {

TEST(EventLoopTest, TimersFireAndCanBeRemovedFromTheirOwnCallback)
{
    EventLoop loop;
    int first = 0, second = 0;
    EventLoop::TimerId secondId = 0;
    loop.AddTimer(1, [&] { ++first; });
    secondId = loop.AddTimer(1, [&] {
        ++second;
        loop.RemoveTimer(secondId);
    });
    for (int turn = 0; turn < 5; ++turn)
        loop.RunOnce();
    EXPECT_GE(first, 3);
    EXPECT_EQ(second, 1);
    EXPECT_FALSE(loop.HasTimer(secondId));
}

TEST(EventLoopTest, BoundedWaitWithNothingToDo)
{
    EventLoop loop;
    loop.RunOnce(-1, 1); // returns: nothing is due, nothing to read
    SUCCEED();
}

} // namespace
