#include "util/task_queue.h"

#include <utility>

task_queue::task_queue(size_t max_pending) : m_max_pending(max_pending) {
    try {
        m_thread = std::thread([this] { run(); });
    } catch (...) {
        // Without a thread every task runs inline: slower, never wrong.
    }
}

task_queue::~task_queue() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void task_queue::post(std::function<void()> task, size_t weight) {
    if (!m_thread.joinable()) {
        task();
        return;
    }
    item next{std::move(task), weight};
    try {
        std::unique_lock<std::mutex> lock(m_mutex);
        // A single task heavier than the bound still goes in once the queue is empty.
        m_changed.wait(lock, [&] { return m_pending == 0 || m_pending + weight <= m_max_pending; });
        m_items.push_back(std::move(next));
        m_pending += weight;
    } catch (...) {
        // Out of memory for the queue: do the work here, after what is already queued.
        drain();
        next.task();
        return;
    }
    m_changed.notify_all();
}

void task_queue::drain() {
    if (!m_thread.joinable())
        return;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_items.empty() && !m_busy; });
}

void task_queue::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_stop || !m_items.empty(); });
        if (m_items.empty())
            return;
        item next = std::move(m_items.front());
        m_items.pop_front();
        m_busy = true;
        lock.unlock();
        next.task();
        lock.lock();
        m_busy = false;
        m_pending -= next.weight;
        m_changed.notify_all();
    }
}
