#include "engine/fetch_ahead.h"

#include <algorithm>
#include <utility>

fetch_ahead::fetch_ahead(fetch_fn fetch, size_t threads)
    : m_fetch(std::move(fetch)), m_thread_count(threads) {}

fetch_ahead::~fetch_ahead() {
    finish();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    for (auto& t : m_threads)
        t.join();
}

void fetch_ahead::start(size_t key, RequestParam param) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_jobs.count(key))
        return;
    try {
        // Threads are made on the first download, so a run that fetches nothing makes none.
        while (m_threads.size() < m_thread_count)
            m_threads.emplace_back([this] { run(); });
    } catch (...) {
        // Fewer threads (or none): the downloads wait for the ones there are, or run below.
    }
    auto at = m_jobs.emplace(key, job{std::move(param), false}).first;
    if (m_threads.empty()) {
        lock.unlock();
        m_fetch(at->second.param); // only this thread touches the map's records now
        lock.lock();
        at->second.done = true;
        return;
    }
    m_waiting.push_back(key);
    lock.unlock();
    m_changed.notify_all();
}

bool fetch_ahead::started(size_t key) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_jobs.count(key) != 0;
}

size_t fetch_ahead::pending() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_jobs.size();
}

bool fetch_ahead::take(size_t key, RequestParam& out) {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto at = m_jobs.find(key);
    if (at == m_jobs.end())
        return false;
    m_changed.wait(lock, [&] { return at->second.done; });
    out = std::move(at->second.param);
    m_jobs.erase(at);
    return true;
}

std::vector<RequestParam> fetch_ahead::finish() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] {
        return std::all_of(m_jobs.begin(), m_jobs.end(),
                           [](const std::pair<const size_t, job>& j) { return j.second.done; });
    });
    std::vector<RequestParam> left;
    for (auto& j : m_jobs)
        left.push_back(std::move(j.second.param));
    m_jobs.clear();
    return left;
}

void fetch_ahead::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_stop || !m_waiting.empty(); });
        if (m_waiting.empty())
            return;
        const size_t key = m_waiting.front();
        m_waiting.erase(m_waiting.begin());
        // A record in a std::map keeps its place while others come and go.
        RequestParam& param = m_jobs.at(key).param;
        lock.unlock();
        try {
            m_fetch(param);
        } catch (...) {
            param.status = -1; // the caller reads it as a local failure
        }
        lock.lock();
        m_jobs.at(key).done = true;
        m_changed.notify_all();
    }
}
