#include "engine/signed_check_win.h"

#include "engine/file_check_win.h"
#include "engine/release_check_win.h"
#include "log/sc_log.h"
#include "util/text_util.h"
#include "util/text_util_win.h"

namespace {

std::wstring slashed(const std::wstring& path) {
    return replace_all(path, L"\\", L"/");
}

} // namespace

signed_check::signed_check(std::unique_ptr<release_statement> statement, std::vector<size_t> index)
    : m_statement(std::move(statement)), m_index(std::move(index)) {}

bool signed_check::identical(size_t entry, const entry_paths& p, std::wstring& problem) {
    const signed_file& f = file(entry);
    return file_matches(p.local_file, f.name, f.size, f.digest, problem);
}

void signed_check::watch_download(size_t entry, RequestParam& param, bool ahead) {
    if (!ahead) {
        // The listed size, which is the signed one, bounds the download already. A little
        // more than the signed archive may still arrive, so that the log can say what came
        // instead.
        m_hasher.begin_stream();
        hash_worker* hasher = &m_hasher;
        param.on_download_bytes = [hasher](const char* data, size_t size) {
            hasher->feed(data, size);
        };
        return;
    }
    // Hashed on the fetching thread as it arrives.
    std::shared_ptr<early_digest> digest(new (std::nothrow) early_digest);
    if (!digest)
        return; // unhashed, so it fails its check: never installed unchecked
    m_early_digests[entry] = digest;
    param.on_download_bytes = [digest](const char* data, size_t size) {
        digest->ok = digest->ok && digest->hash.update(data, size);
        digest->size += size;
    };
}

bool signed_check::archive_matches(size_t entry, const entry_paths& p, std::wstring& problem) {
    const signed_file& f = file(entry);
    sha256_digest digest{};
    uint64_t size = 0;
    const auto early = m_early_digests.find(entry);
    bool hashed = false;
    if (early != m_early_digests.end()) {
        hashed = early->second->ok && early->second->hash.finish(digest);
        size = early->second->size;
        m_early_digests.erase(early);
    } else {
        hashed = m_hasher.end_stream(digest, size);
    }
    if (!hashed)
        problem = p.server_path + L" could not be hashed";
    else if (size != f.archive_size || digest != f.archive_digest)
        problem = mismatch_text(p.server_path, size, digest, f.archive_size, f.archive_digest);
    return problem.empty();
}

std::function<void(const std::wstring&)> signed_check::unpack_observer() {
    hash_worker* hasher = &m_hasher;
    hasher->take_files(); // nothing of an earlier entry
    return [hasher](const std::wstring& path) { hasher->add_file(path); };
}

std::vector<std::wstring> signed_check::install_problems(size_t entry, const entry_paths& p) {
    const signed_file& f = file(entry);
    std::vector<std::wstring> problems;
    std::wstring problem;
    if (!p.is_archive) {
        const std::wstring path = p.is_launcher_archive ? p.target + L"_" : p.target;
        if (!file_matches(path, f.name, f.size, f.digest, problem))
            problems.push_back(problem);
        return problems;
    }

    // Every file unpacked is a signed member with its bytes, and every member was unpacked.
    std::map<std::wstring, const signed_member*> expected;
    for (const signed_member* m : members_of(*m_statement, f.name))
        expected[slashed(m->name)] = m;
    const std::wstring root = p.target + L"\\";
    for (const hash_worker::file_result& r : m_hasher.take_files()) {
        const std::wstring name = slashed(
            r.path.compare(0, root.size(), root) == 0 ? r.path.substr(root.size()) : r.path);
        const std::wstring shown = f.name + L":" + name;
        const auto found = expected.find(name);
        if (found == expected.end())
            problems.push_back(shown + L" is not a signed member of the archive");
        else if (!r.ok)
            problems.push_back(format_text(L"%s could not be hashed (error %lu)", shown.c_str(),
                                           static_cast<unsigned long>(r.error)));
        else if (r.size != found->second->size || r.digest != found->second->digest)
            problems.push_back(
                mismatch_text(shown, r.size, r.digest, found->second->size, found->second->digest));
        if (found != expected.end())
            expected.erase(found);
    }
    for (const auto& missing : expected)
        problems.push_back(f.name + L":" + missing.first + L" was not unpacked");
    return problems;
}

std::string signed_check::statement_text() const {
    return ::statement_text(*m_statement);
}

void signed_check::release_installed() {
    const long stored = store_release_sequence(m_statement->sequence);
    if (stored != ERROR_SUCCESS)
        SCLOG(2, L"CZekLauncherDlg::thread_launcher", L"%s could not be stored. error code = %ld",
              k_sequence_value, stored);
}
