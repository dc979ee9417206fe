#include "util/hash_worker_win.h"

#include <utility>

namespace {

// Bytes handed to the thread at once, and how many may wait there: enough to keep it busy,
// little enough to stay out of the way of a big download.
constexpr size_t k_block_bytes = size_t(1) << 20;
constexpr size_t k_max_queued_bytes = 8 * k_block_bytes;
// Files weigh little: their bytes are read by the task itself.
constexpr size_t k_file_weight = 1;

} // namespace

hash_worker::hash_worker() : m_queue(k_max_queued_bytes) {}

hash_worker::~hash_worker() {
    m_queue.drain();
}

void hash_worker::begin_stream() {
    m_stream.reset(new sha256_hash);
    m_stream_ok = m_stream->ok();
    // No block reserved up front: most streams are small archives.
    m_block.clear();
    m_posted = false;
    m_stream_size = 0;
}

void hash_worker::post_block() {
    std::vector<unsigned char> block;
    block.reserve(k_block_bytes);
    block.swap(m_block);
    const size_t weight = block.size();
    m_queue.post(
        [this, data = std::move(block)] {
            if (m_stream_ok)
                m_stream_ok = m_stream->update(data.data(), data.size());
        },
        weight);
    m_posted = true;
}

void hash_worker::feed(const void* data, size_t size) {
    if (!m_stream)
        return;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    m_stream_size += size;
    while (size > 0) {
        const size_t n = std::min(size, k_block_bytes - m_block.size());
        m_block.insert(m_block.end(), p, p + n);
        p += n;
        size -= n;
        if (m_block.size() == k_block_bytes)
            post_block();
    }
}

bool hash_worker::end_stream(sha256_digest& digest, uint64_t& size) {
    if (!m_stream)
        return false;
    if (m_posted) {
        post_block();
        m_queue.drain();
    } else if (m_stream_ok) {
        // A small stream costs less here than a trip through the thread.
        m_stream_ok = m_stream->update(m_block.data(), m_block.size());
    }
    const bool ok = m_stream_ok && m_stream->finish(digest);
    size = m_stream_size;
    m_stream.reset();
    m_block = std::vector<unsigned char>();
    return ok;
}

void hash_worker::add_file(const std::wstring& path) {
    m_queue.post(
        [this, path] {
            file_result r;
            r.path = path;
            r.ok = sha256_file(path, r.digest, r.size, r.error);
            m_files.push_back(std::move(r));
        },
        k_file_weight);
}

std::vector<hash_worker::file_result> hash_worker::take_files() {
    m_queue.drain();
    std::vector<file_result> out;
    out.swap(m_files);
    return out;
}
