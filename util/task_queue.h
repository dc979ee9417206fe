#pragma once
// One worker thread that runs tasks in the order they are posted, so that work such as
// hashing overlaps the download and the unpacking that produce its input. When no thread
// can be started, tasks run at once on the caller's thread. Nothing here throws; a task
// must not throw either.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class task_queue {
public:
    // A poster waits while more than `max_pending` weight (e.g. bytes) is queued, so that a
    // producer faster than the worker does not pile up memory.
    explicit task_queue(size_t max_pending);
    ~task_queue(); // runs what is still queued, then ends the thread
    task_queue(const task_queue&) = delete;
    task_queue& operator=(const task_queue&) = delete;

    void post(std::function<void()> task, size_t weight);
    // Returns once every task posted before has run.
    void drain();
    bool threaded() const { return m_thread.joinable(); }

private:
    void run();

    struct item {
        std::function<void()> task;
        size_t weight;
    };
    const size_t m_max_pending;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<item> m_items;
    size_t m_pending = 0; // weight queued or running
    bool m_busy = false;
    bool m_stop = false;
    std::thread m_thread;
};
