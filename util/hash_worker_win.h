#pragma once
// SHA-256 on a thread of its own (util/task_queue.h), so that hashing overlaps the work that
// produces the bytes: a download is hashed as it arrives, the files of an archive while the
// next ones are unpacked. One caller thread drives it; results are read after a wait.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "util/crypto_win.h"
#include "util/task_queue.h"

class hash_worker {
public:
    hash_worker();
    ~hash_worker();
    hash_worker(const hash_worker&) = delete;
    hash_worker& operator=(const hash_worker&) = delete;

    // ---- one stream at a time: begin, feed the bytes in order, end
    void begin_stream();
    void feed(const void* data, size_t size);
    // Waits for the stream's last bytes; false when hashing failed.
    bool end_stream(sha256_digest& digest, uint64_t& size);

    // ---- files, hashed in the order given, each once it is complete on the disk
    struct file_result {
        std::wstring path;
        bool ok = false;
        sha256_digest digest{};
        uint64_t size = 0;
        DWORD error = 0;
    };
    void add_file(const std::wstring& path);
    // Waits until every file added so far is hashed, and hands the results over.
    std::vector<file_result> take_files();

private:
    void post_block();

    task_queue m_queue;
    // Touched by the queue's tasks only between begin_stream and end_stream's wait.
    std::unique_ptr<sha256_hash> m_stream;
    bool m_stream_ok = false;
    std::vector<unsigned char> m_block;
    bool m_posted = false;
    uint64_t m_stream_size = 0;
    std::vector<file_result> m_files; // written by tasks, read after a wait
};
