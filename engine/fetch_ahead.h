#pragma once
// Downloads the next archives of the file list while the current one is unpacked, so that the
// network's waiting overlaps the local work. Each download is still one request of its own;
// only when it runs changes. The owner decides, in list order, what each result is used for.
// Nothing here throws: without threads a download runs at once on the caller's thread.
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "net/request_url.h"

class fetch_ahead {
public:
    using fetch_fn = std::function<void(RequestParam&)>;
    fetch_ahead(fetch_fn fetch, size_t threads);
    ~fetch_ahead(); // waits for every download; what nobody took is dropped
    fetch_ahead(const fetch_ahead&) = delete;
    fetch_ahead& operator=(const fetch_ahead&) = delete;

    // Starts the download of list entry `key` (once per key).
    void start(size_t key, RequestParam param);
    bool started(size_t key) const;
    // Number of downloads started and not yet taken.
    size_t pending() const;
    // Waits for the download of `key` and moves the finished record into `out`; false when
    // none was started for it.
    bool take(size_t key, RequestParam& out);
    // Waits for every download and hands over those nobody took (their files are the
    // caller's to delete).
    std::vector<RequestParam> finish();

private:
    struct job {
        RequestParam param;
        bool done = false;
    };
    void run();

    const fetch_fn m_fetch;
    const size_t m_thread_count;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<size_t, job> m_jobs;  // started, not yet taken
    std::vector<size_t> m_waiting; // keys not yet picked up by a thread, in start order
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};
