// Message queues: order, time-outs, the pollable descriptor, the bound, and posts from other threads.
#include <poll.h>

#include <thread>

#include "platform/Messages.h"
#include "tests/api/ApiFixture.h"

namespace zelvik::test {
namespace {

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

TEST(MessageQueueTest, DeliversInOrderAndTheFdIsReadableWhileMessagesWait) {
    const ZELVIK_HWND q = ZelvikMsg_CreateQueue();
    ASSERT_NE(q, 0u);
    const int fd = ZelvikMsg_Fd(q);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(Readable(fd));
    PostToTarget(q, MSG_CAMERA_FRAME, 0x1234, 0);
    PostToTarget(q, MSG_CAMERA_ERROR, 0, ZELVIK_ERR_CAMERA_LOST);
    EXPECT_TRUE(Readable(fd));
    ZelvikMessage m;
    ASSERT_EQ(ZelvikMsg_Get(q, &m, 0), 1);
    EXPECT_EQ(m.message, uint32_t{MSG_CAMERA_FRAME});
    EXPECT_EQ(m.wParam, 0x1234u);
    EXPECT_TRUE(Readable(fd));
    ASSERT_EQ(ZelvikMsg_Get(q, &m, 0), 1);
    EXPECT_EQ(m.lParam, ZELVIK_ERR_CAMERA_LOST);
    EXPECT_FALSE(Readable(fd));
    EXPECT_EQ(ZelvikMsg_Get(q, &m, 10), 0);
    EXPECT_EQ(ZelvikMsg_DestroyQueue(q), 1);
    EXPECT_EQ(ZelvikMsg_DestroyQueue(q), 0);
    EXPECT_EQ(ZelvikMsg_Get(q, &m, 0), -1);
    EXPECT_EQ(ZelvikMsg_Fd(q), -1);
    EXPECT_FALSE(PostToTarget(q, MSG_CAMERA_ERROR, 0, 1)) << "a destroyed queue swallows posts";
    EXPECT_FALSE(PostToTarget(0, MSG_CAMERA_ERROR, 0, 1)) << "no target";
}

TEST(MessageQueueTest, AFullQueueDropsAndCountsWithoutBlockingThePoster) {
    const ZELVIK_HWND q = ZelvikMsg_CreateQueue();
    int posted = 0;
    for (int i = 0; i < kMessageQueueCapacity + 10; ++i) posted += PostToTarget(q, MSG_CAMERA_ERROR, 0, i);
    EXPECT_EQ(posted, kMessageQueueCapacity) << "a post says whether the queue took it";
    EXPECT_EQ(ZelvikMsg_Dropped(q), 10);
    ZelvikMessage m;
    int n = 0;
    while (ZelvikMsg_Get(q, &m, 0) == 1) EXPECT_EQ(m.lParam, n++);
    EXPECT_EQ(n, kMessageQueueCapacity);
    ZelvikMsg_DestroyQueue(q);
}

TEST(MessageQueueTest, AWaitingReaderWakesForAPostFromAnotherThread) {
    const ZELVIK_HWND q = ZelvikMsg_CreateQueue();
    std::thread poster([q] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        PostToTarget(q, MSG_CAMERA_FRAME, 0, ZELVIK_ERR_TRANSFER);
    });
    ZelvikMessage m;
    EXPECT_EQ(ZelvikMsg_Get(q, &m, -1), 1);
    EXPECT_EQ(m.lParam, ZELVIK_ERR_TRANSFER);
    poster.join();
    EXPECT_EQ(ZelvikMsg_Get(q, nullptr, 0), -1);
    ZelvikMsg_DestroyQueue(q);
}

TEST(MessageQueueTest, UnknownTargetsAreIgnored) {
    // Neither a queue nor a reachable window: nothing happens, nothing blocks.
    PostToTarget(0, MSG_CAMERA_ERROR, 0, 1);
    PostToTarget(ZELVIK_HWND{0x5A} << 56 | 999, MSG_CAMERA_ERROR, 0, 1);
    EXPECT_EQ(ZelvikMsg_Get(0, nullptr, 0), -1);
}

}  // namespace
}  // namespace zelvik::test
