#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "util/task_queue.h"

TEST(TaskQueue, RunsInOrderOffTheCallersThreadAndDrains) {
    std::vector<int> order;
    std::atomic<int> on_caller{0};
    const auto caller = std::this_thread::get_id();
    {
        task_queue q(1000);
        ASSERT_TRUE(q.threaded());
        for (int i = 0; i < 200; ++i)
            q.post(
                [&, i] {
                    if (std::this_thread::get_id() == caller)
                        ++on_caller;
                    order.push_back(i);
                },
                1);
        q.drain();
        EXPECT_EQ(200u, order.size());
        q.post([&] { order.push_back(-1); }, 1);
        // The destructor runs what is still queued.
    }
    ASSERT_EQ(201u, order.size());
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(i, order[static_cast<size_t>(i)]);
    EXPECT_EQ(-1, order.back());
    EXPECT_EQ(0, on_caller.load());
}

TEST(TaskQueue, PosterWaitsWhileTheBoundIsReached) {
    std::atomic<int> queued{0}, most{0};
    task_queue q(3);
    for (int i = 0; i < 20; ++i) {
        const int now = ++queued;
        most = std::max(most.load(), now);
        q.post(
            [&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                --queued;
            },
            1);
    }
    // A task heavier than the bound still runs.
    bool heavy = false;
    q.post([&] { heavy = true; }, 100);
    q.drain();
    EXPECT_TRUE(heavy);
    EXPECT_LE(most.load(), 4) << "at most the bound queued, plus the one being posted";
}
