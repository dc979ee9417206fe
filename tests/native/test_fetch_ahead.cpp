#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "engine/fetch_ahead.h"
#include "engine/pipeline_logic.h"

namespace {
RequestParam request(size_t key) {
    return RequestParam(L"host", 443, L"/f" + std::to_wstring(key), L"GET", 1, {}, L"",
                        L"C:\\p\\f" + std::to_wstring(key) + L".zip");
}
} // namespace

TEST(FetchAhead, DownloadsOverlapAndEachResultGoesToItsEntry) {
    std::atomic<int> running{0}, most{0};
    fetch_ahead ahead(
        [&](RequestParam& p) {
            const int now = ++running;
            for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            p.status = 200;
            p.text = p.path;
            --running;
        },
        3);
    for (size_t key = 1; key <= 6; ++key)
        ahead.start(key, request(key));
    ahead.start(3, request(99)); // once per entry
    EXPECT_TRUE(ahead.started(4));
    EXPECT_FALSE(ahead.started(7));
    RequestParam out(L"", 0, L"");
    EXPECT_FALSE(ahead.take(7, out));
    for (size_t key : {2u, 1u, 3u}) {
        ASSERT_TRUE(ahead.take(key, out));
        EXPECT_EQ(200, out.status);
        EXPECT_EQ(L"/f" + std::to_wstring(key), out.text);
    }
    EXPECT_FALSE(ahead.take(1, out));
    // What nobody took comes back whole, for its file to be deleted.
    const std::vector<RequestParam> left = ahead.finish();
    ASSERT_EQ(3u, left.size());
    for (const RequestParam& p : left)
        EXPECT_EQ(200, p.status);
    EXPECT_EQ(0u, ahead.pending());
    EXPECT_EQ(3, most.load());
}

TEST(FetchAhead, WithoutThreadsEachDownloadRunsAtOnce) {
    int calls = 0;
    fetch_ahead ahead([&](RequestParam& p) { p.status = ++calls; }, 0);
    ahead.start(5, request(5));
    EXPECT_EQ(1, calls);
    RequestParam out(L"", 0, L"");
    ASSERT_TRUE(ahead.take(5, out));
    EXPECT_EQ(1, out.status);
}

TEST(EntryPaths, PathWithin) {
    EXPECT_TRUE(path_within(L"C:\\p\\Pack\\a.dll.zip", L"c:/p/pack"));
    EXPECT_TRUE(path_within(L"C:\\p\\pack\\", L"C:\\p\\PACK"));
    EXPECT_FALSE(path_within(L"C:\\p\\package\\a", L"C:\\p\\pack"));
    EXPECT_FALSE(path_within(L"C:\\p", L"C:\\p\\pack"));
    EXPECT_FALSE(path_within(L"C:\\p\\a", L""));
}
