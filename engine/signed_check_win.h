#pragma once
// What a release key adds to an update run: the hashes of what is installed, downloaded and
// unpacked, each against the verified statement of the server's release.
#include <windows.h>

#include <map>
#include <memory>
#include <vector>

#include "engine/release_statement.h"
#include "engine/update_run.h"
#include "util/hash_worker_win.h"

class signed_check : public release_check {
public:
    // `index`: file-list entry -> its signed file (match_filelist).
    signed_check(std::unique_ptr<release_statement> statement, std::vector<size_t> index);

    bool checks_bytes() const override { return true; }
    bool identical(size_t entry, const entry_paths& p, std::wstring& problem) override;
    void watch_download(size_t entry, RequestParam& param, bool ahead) override;
    bool archive_matches(size_t entry, const entry_paths& p, std::wstring& problem) override;
    std::function<void(const std::wstring&)> unpack_observer() override;
    std::vector<std::wstring> install_problems(size_t entry, const entry_paths& p) override;
    void downloads_done() override { m_early_digests.clear(); }
    std::string statement_text() const override;
    void release_installed() override;

private:
    const signed_file& file(size_t entry) const { return m_statement->files[m_index[entry]]; }

    std::unique_ptr<release_statement> m_statement;
    std::vector<size_t> m_index;
    hash_worker m_hasher;
    struct early_digest {
        sha256_hash hash;
        uint64_t size = 0;
        bool ok = true;
    };
    // Archives fetched ahead, by entry; touched by the fetching thread only until the entry
    // takes its download.
    std::map<size_t, std::shared_ptr<early_digest>> m_early_digests;
};
