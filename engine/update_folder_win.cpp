#include "engine/update_folder_win.h"

#include "engine/release_statement.h"
#include "log/sc_log.h"
#include "util/file_util_win.h"
#include "util/registry_util_win.h"
#include "util/text_util_win.h"
#include "zip/unzip.h"

namespace {

class zip_archive : public update_archive {
public:
    explicit zip_archive(ZipHandle zip) : m_zip(zip) {}
    ~zip_archive() override { ReleaseZip(m_zip); }
    zip_archive(const zip_archive&) = delete;
    zip_archive& operator=(const zip_archive&) = delete;

    uint32_t unpack_all(const std::wstring& folder,
                        const std::function<void(const std::wstring&)>& written) override {
        return UnzipAll(m_zip, folder, written);
    }
    uint32_t unpack_first(const std::wstring& file) override { return UnzipItem(m_zip, 0, file); }

private:
    ZipHandle m_zip;
};

} // namespace

program_folder_win::program_folder_win(std::wstring program_folder, std::wstring registry_key)
    : m_program_folder(std::move(program_folder)), m_registry_key(std::move(registry_key)),
      m_journal(m_program_folder) {}

place program_folder_win::placed(const std::wstring& path) const {
    const size_t cut = m_program_folder.find_last_of(L'\\');
    return cut == std::wstring::npos ? place() : place::at(m_program_folder.substr(0, cut), path);
}

bool program_folder_win::exists(const std::wstring& path) {
    return placed(path).exists();
}

bool program_folder_win::clear_way(const std::wstring& path) {
    return placed(path).clear_way();
}

bool program_folder_win::make_folders(const std::wstring& folder) {
    return placed(folder).make_folders();
}

bool program_folder_win::prepare_backup(const std::wstring& folder) {
    // Files moved through a link would land wherever it points, and the rollback would look
    // for them there.
    if (is_link(folder)) {
        const bool removed = delete_tree(folder);
        SCLOG(2, L"CZekLauncherDlg::thread_launcher",
              L"a link in place of the backup folder %s: %s",
              removed ? L"was removed" : L"could not be removed", folder.c_str());
        if (!removed)
            return false;
    }
    return placed(folder).make_folders();
}

bool program_folder_win::move(const std::wstring& from, const std::wstring& to, unsigned flags) {
    const DWORD how = ((flags & k_move_replace) ? MOVEFILE_REPLACE_EXISTING : 0) |
                      ((flags & k_move_write_through) ? MOVEFILE_WRITE_THROUGH : 0);
    return placed(from).move_to(placed(to), how);
}

bool program_folder_win::remove(const std::wstring& path) {
    return placed(path).remove();
}

bool program_folder_win::same_size_and_version(const std::wstring& file, const FileInfo& entry) {
    return static_cast<int64_t>(get_path_size(file)) == entry.size &&
           get_file_version_string(file, L"FileVersion") == entry.version;
}

std::unique_ptr<update_archive>
program_folder_win::open_archive(const std::wstring& file, std::string bytes, bool in_memory) {
    ZipHandle zip = in_memory ? OpenZipMemory(std::move(bytes)) : OpenZip(file);
    if (!zip)
        return nullptr;
    std::unique_ptr<update_archive> archive(new (std::nothrow) zip_archive(zip));
    if (!archive)
        ReleaseZip(zip);
    return archive;
}

bool program_folder_win::flush(const std::wstring& path) {
    const place unpacked = placed(path);
    if (!unpacked.is_folder())
        return flush_file(path);
    bool flushed = true;
    for (const place& f : unpacked.files())
        flushed = flush_file(f.path()) && flushed;
    return flushed;
}

bool program_folder_win::read_file(const std::wstring& path, std::string& bytes) {
    return read_file_bytes(path, k_max_statement_bytes, bytes);
}

bool program_folder_win::write_file(const std::wstring& path, const std::string& bytes) {
    unique_hfile file = placed(path).open(GENERIC_WRITE, 0, CREATE_ALWAYS);
    DWORD done = 0;
    const bool written =
        file &&
        ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
        done == bytes.size() && ::FlushFileBuffers(file.get());
    m_last_error = written ? 0 : ::GetLastError();
    return written;
}

bool program_folder_win::append_journal(const journal_record& record, bool flush) {
    const bool ok = m_journal.append(record, flush);
    m_last_error = ok ? 0 : ::GetLastError();
    return ok;
}

bool program_folder_win::read_journal(journal_contents& journal) {
    return ::read_journal(m_program_folder, journal);
}

undo_result program_folder_win::undo(const journal_contents& journal,
                                     const std::function<void(const undo_progress&)>& on_line) {
    return undo_changes(m_program_folder, journal, false, on_line);
}

bool program_folder_win::clear_journal(const journal_contents& journal) {
    return ::clear_journal(m_program_folder, journal);
}

long program_folder_win::store_version(const std::wstring& version) {
    return write_hklm_string(m_registry_key, L"Version", version);
}
