#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

#include "engine/update_run.h"
#include "util/text_util.h"

namespace {

const std::wstring k_root = L"C:\\P";

std::wstring norm(std::wstring path) {
    path = to_lower(replace_all(path, L"/", L"\\"));
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path;
}

bool under(const std::wstring& path, const std::wstring& folder) {
    return path == folder || path.compare(0, folder.size() + 1, folder + L"\\") == 0;
}

// A program folder in memory. A file's content is also its version; an archive is "ZIP:"
// followed by "name=content" lines. Every change and journal record is logged in order.
class fake_folder : public update_folder, public update_archive {
public:
    std::map<std::wstring, std::wstring> files; // normalised path -> content
    std::set<std::wstring> folders;
    std::vector<journal_record> journal;
    std::vector<std::wstring> events; // "journal <op> <item>", "change <path>"
    std::wstring version = L"1.0";
    bool refuse_commit = false;
    bool refuse_flush = false;
    std::mutex mutex;

    void put(const std::wstring& path, const std::wstring& content) {
        make_folders(path.substr(0, path.rfind(L'\\')));
        files[norm(path)] = content;
    }
    bool exists(const std::wstring& path) override {
        std::lock_guard<std::mutex> lock(mutex);
        return files.count(norm(path)) || folders.count(norm(path));
    }
    bool clear_way(const std::wstring&) override { return true; }
    bool make_folders(const std::wstring& folder) override {
        std::lock_guard<std::mutex> lock(mutex);
        for (std::wstring f = norm(folder); f.size() > norm(k_root).size();
             f = f.substr(0, f.rfind(L'\\')))
            if (folders.insert(f).second)
                events.push_back(L"change " + f);
        return true;
    }
    bool prepare_backup(const std::wstring& folder) override { return make_folders(folder); }
    bool move(const std::wstring& from, const std::wstring& to, unsigned) override {
        std::lock_guard<std::mutex> lock(mutex);
        const std::wstring f = norm(from), t = norm(to);
        if (!files.count(f) && !folders.count(f))
            return false;
        events.push_back(L"move " + f);
        std::set<std::wstring> moved_folders;
        for (const auto& p : folders)
            moved_folders.insert(under(p, f) ? t + p.substr(f.size()) : p);
        folders = moved_folders;
        std::map<std::wstring, std::wstring> moved;
        for (const auto& p : files)
            moved[under(p.first, f) ? t + p.first.substr(f.size()) : p.first] = p.second;
        files = moved;
        return true;
    }
    bool remove(const std::wstring& path) override {
        std::lock_guard<std::mutex> lock(mutex);
        const std::wstring p = norm(path);
        for (auto it = files.begin(); it != files.end();)
            it = under(it->first, p) ? files.erase(it) : std::next(it);
        for (auto it = folders.begin(); it != folders.end();)
            it = under(*it, p) ? folders.erase(it) : std::next(it);
        return true;
    }
    bool same_size_and_version(const std::wstring& file, const FileInfo& entry) override {
        std::lock_guard<std::mutex> lock(mutex);
        const auto f = files.find(norm(file));
        return f != files.end() && f->second == entry.version &&
               static_cast<int64_t>(f->second.size()) == entry.size;
    }
    std::unique_ptr<update_archive> open_archive(const std::wstring& file, std::string bytes,
                                                 bool in_memory) override {
        std::wstring text(bytes.begin(), bytes.end());
        if (!in_memory) {
            std::lock_guard<std::mutex> lock(mutex);
            const auto f = files.find(norm(file));
            text = f == files.end() ? std::wstring() : f->second;
        }
        if (text.compare(0, 4, L"ZIP:") != 0)
            return nullptr;
        m_members = text.substr(4);
        return std::unique_ptr<update_archive>(new forward(*this));
    }
    uint32_t unpack_all(const std::wstring& folder,
                        const std::function<void(const std::wstring&)>& written) override {
        for (size_t at = 0; at < m_members.size();) {
            const size_t end = std::min(m_members.find(L'\n', at), m_members.size());
            const std::wstring member = m_members.substr(at, end - at);
            const std::wstring path = folder + L"\\" + member.substr(0, member.find(L'='));
            create(path, member.substr(member.find(L'=') + 1));
            if (written)
                written(path);
            at = end + 1;
        }
        return 0;
    }
    uint32_t unpack_first(const std::wstring& file) override {
        const std::wstring first = m_members.substr(0, m_members.find(L'\n'));
        create(file, first.substr(first.find(L'=') + 1));
        return 0;
    }
    void create(const std::wstring& path, const std::wstring& content) {
        make_folders(path.substr(0, path.rfind(L'\\')));
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(L"change " + norm(path));
        files[norm(path)] = content;
    }
    bool flush(const std::wstring&) override { return !refuse_flush; }
    bool read_file(const std::wstring& path, std::string& bytes) override {
        std::lock_guard<std::mutex> lock(mutex);
        const auto f = files.find(norm(path));
        if (f == files.end())
            return false;
        bytes.assign(f->second.begin(), f->second.end());
        return true;
    }
    bool write_file(const std::wstring& path, const std::string& bytes) override {
        create(path, std::wstring(bytes.begin(), bytes.end()));
        return true;
    }
    unsigned long last_error() const override { return 0; }
    bool append_journal(const journal_record& record, bool) override {
        std::lock_guard<std::mutex> lock(mutex);
        if (record.op == journal_op::commit && refuse_commit)
            return false;
        journal.push_back(record);
        events.push_back(L"journal " + std::to_wstring(static_cast<int>(record.op)) + L" " +
                         norm(k_root + L"\\" + record.item));
        files[norm(journal_path(k_root))] = L"journal";
        return true;
    }
    void close_journal() override {}
    bool read_journal(journal_contents& out) override {
        std::string bytes;
        for (const journal_record& r : journal)
            bytes += format_journal_record(r);
        out = parse_journal(bytes);
        return true;
    }
    undo_result undo(const journal_contents& j,
                     const std::function<void(const undo_progress&)>& on_line) override {
        undo_result result;
        for (size_t i = j.changes.size(); i-- > 0;) {
            const journal_record& c = j.changes[i];
            if (c.op != journal_op::move)
                continue;
            remove(k_root + L"\\" + c.item);
            const bool ok = move(k_root + L"\\" + c.backup, k_root + L"\\" + c.item, 0);
            result.restore_failures += !ok;
            on_line({static_cast<int>(i), 0, c.item, ok});
        }
        return result;
    }
    bool clear_journal(const journal_contents& j) override {
        remove(k_root + L"\\" + j.from_version);
        remove(journal_path(k_root));
        journal.clear();
        return true;
    }
    long store_version(const std::wstring& v) override {
        version = v;
        return 0;
    }

private:
    struct forward : update_archive {
        explicit forward(fake_folder& f) : folder(f) {}
        uint32_t unpack_all(const std::wstring& d,
                            const std::function<void(const std::wstring&)>& w) override {
            return folder.unpack_all(d, w);
        }
        uint32_t unpack_first(const std::wstring& f) override { return folder.unpack_first(f); }
        fake_folder& folder;
    };
    std::wstring m_members;
};

struct recorder : update_observer {
    std::vector<entry_outcome> outcomes;
    std::vector<std::wstring> lines;
    update_summary sum;
    void entry_started(size_t, size_t, const std::wstring&, const std::wstring&) override {}
    void line(view_colour, const std::wstring& text, bool) override { lines.push_back(text); }
    void entry_done(size_t, entry_outcome o) override { outcomes.push_back(o); }
    void summary(const update_summary& s) override { sum = s; }
    void restoring(int, int, const std::wstring&) override {}
    void restored(int) override {}
};

struct run_fixture {
    fake_folder folder;
    recorder seen;
    std::map<std::wstring, std::string> server; // path -> archive bytes
    std::vector<std::wstring> fetched;
    std::mutex fetch_mutex;
    std::unique_ptr<update_run> run;

    run_fixture() {
        update_settings s;
        s.program_folder = k_root;
        s.download_path = L"dl";
        s.server_host = L"host";
        s.launcher_file = L"Launcher.exe";
        s.statement_file = L"~statement";
        s.text = [](unsigned id) { return L"#" + std::to_wstring(id); };
        run.reset(new update_run(
            s, folder, [this](RequestParam& p) { fetch(p); }, seen));
        run->local_version = L"1.0";
        run->server_version = L"2.0";
    }
    void fetch(RequestParam& p) {
        {
            std::lock_guard<std::mutex> lock(fetch_mutex);
            fetched.push_back(p.path);
        }
        const auto found = server.find(p.path);
        p.status = found == server.end() ? 404 : 200;
        if (p.status == 200 && p.download_to_memory)
            p.download_bytes = found->second;
        else if (p.status == 200)
            folder.create(p.download_file,
                          std::wstring(found->second.begin(), found->second.end()));
    }
    // Listed with `content` as its version; the server has it as an archive.
    void list(const std::wstring& name, const std::wstring& content, std::string archive = {}) {
        run->filelist.push_back({name, static_cast<int64_t>(content.size()), content});
        const std::wstring file = name.substr(name.rfind(L'/') + 1);
        const bool zip = name.size() > 4 && name.compare(name.size() - 4, 4, L".zip") == 0;
        const std::wstring path = L"dl/2.0/" + name + (zip ? L"" : L".zip");
        server[path] = archive.empty() ? "ZIP:" + std::string(file.begin(), file.end()) + "=" +
                                             std::string(content.begin(), content.end())
                                       : archive;
    }
    std::wstring content(const std::wstring& name) {
        return folder.files[norm(k_root + L"\\" + name)];
    }
};

// Every change of the program folder outside the backup follows the journal line that lets
// the rollback undo it: a move its "move", a new file or folder an "add" of it or a folder
// above it.
void expect_journal_before_each_change(const fake_folder& f, const std::set<std::wstring>& before) {
    std::vector<std::wstring> recorded;
    const std::wstring backup = norm(k_root + L"\\1.0");
    for (const std::wstring& e : f.events) {
        if (e.compare(0, 8, L"journal ") == 0) {
            recorded.push_back(e.substr(10));
            continue;
        }
        const std::wstring path = e.substr(e.find(L' ') + 1);
        const bool moved = e.compare(0, 5, L"move ") == 0;
        if (under(path, backup) || (!moved && before.count(path)) ||
            path == norm(journal_path(k_root)))
            continue;
        bool found = false;
        for (const std::wstring& r : recorded)
            found = found || under(path, r);
        EXPECT_TRUE(found) << "not in the journal before it changed: "
                           << std::string(path.begin(), path.end());
    }
}

} // namespace

TEST(UpdateRun, EachEntryTakesItsWayAndEveryChangeIsJournaledFirst) {
    run_fixture t;
    t.folder.put(k_root + L"\\a.dll", L"A1");
    t.folder.put(k_root + L"\\b.dll", L"B1");
    t.folder.put(k_root + L"\\pack\\x.txt", L"X1");
    t.folder.put(k_root + L"\\Launcher.exe", L"L1");
    std::set<std::wstring> before = t.folder.folders;
    for (const auto& f : t.folder.files)
        before.insert(f.first);
    t.list(L"a.dll", L"A1");
    t.list(L"b.dll", L"B2");
    t.list(L"sub/deep/c.dll", L"C2");
    t.list(L"pack.zip", L"P2", "ZIP:x.txt=X2\ny.txt=Y2");
    t.list(L"Launcher.exe", L"L2");
    t.list(L"../evil.dll", L"E");

    EXPECT_EQ(1, t.run->install());
    using o = entry_outcome;
    EXPECT_EQ((std::vector<o>{o::skipped, o::installed, o::installed, o::installed, o::installed,
                              o::failed}),
              t.seen.outcomes);
    EXPECT_EQ(6, t.seen.sum.total);
    EXPECT_EQ(1, t.seen.sum.skipped);
    // Fetched once each, a file that is up to date never, a name outside the folder never.
    std::multiset<std::wstring> fetched(t.fetched.begin(), t.fetched.end());
    EXPECT_EQ((std::multiset<std::wstring>{L"dl/2.0/b.dll.zip", L"dl/2.0/sub/deep/c.dll.zip",
                                           L"dl/2.0/pack.zip", L"dl/2.0/Launcher.exe.zip"}),
              fetched);
    EXPECT_EQ(L"B2", t.content(L"b.dll"));
    EXPECT_EQ(L"C2", t.content(L"sub\\deep\\c.dll"));
    EXPECT_EQ(L"Y2", t.content(L"pack\\y.txt"));
    EXPECT_EQ(L"L2", t.content(L"Launcher.exe"));
    // What was replaced waits in the backup; no archive is left.
    EXPECT_EQ(L"B1", t.content(L"1.0\\b.dll"));
    EXPECT_EQ(L"X1", t.content(L"1.0\\pack\\x.txt"));
    EXPECT_EQ(L"L1", t.content(L"1.0\\Launcher.exe"));
    for (const auto& f : t.folder.files)
        EXPECT_EQ(std::wstring::npos, f.first.find(L".zip"));
    expect_journal_before_each_change(t.folder, before);
    // Only the topmost new folder is recorded.
    EXPECT_TRUE(std::any_of(t.folder.journal.begin(), t.folder.journal.end(),
                            [](const journal_record& r) { return r.item == L"sub"; }));
    EXPECT_FALSE(std::any_of(t.folder.journal.begin(), t.folder.journal.end(),
                             [](const journal_record& r) { return r.item == L"sub\\deep"; }));
}

TEST(UpdateRun, AFailureRollsBackWhatMovedAndAFatalOneStopsTheRun) {
    struct row {
        const char* what;
        std::string b_archive; // "" the right one, "404" none on the server
        std::vector<entry_outcome> outcomes;
    };
    using o = entry_outcome;
    const row rows[] = {
        {"missing archive: the run goes on", "404", {o::failed, o::installed}},
        {"no archive: the run stops", "garbage", {o::fatal}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        run_fixture t;
        t.folder.put(k_root + L"\\b.dll", L"B1");
        t.folder.put(k_root + L"\\c.dll", L"C1");
        t.list(L"b.dll", L"B2", r.b_archive);
        t.list(L"c.dll", L"C2");
        if (r.b_archive == "404")
            t.server.erase(L"dl/2.0/b.dll.zip");
        EXPECT_EQ(1, t.run->install());
        EXPECT_EQ(r.outcomes, t.seen.outcomes);
        EXPECT_EQ(0, t.run->rollback());
        EXPECT_EQ(L"B1", t.content(L"b.dll"));
        EXPECT_EQ(L"C1", t.content(L"c.dll"));
        t.run->finish();
        EXPECT_FALSE(t.folder.exists(k_root + L"\\1.0"));
        EXPECT_EQ(L"1.0", t.folder.version);
    }
}

TEST(UpdateRun, TheVersionIsStoredOnlyAfterEveryFileIsFlushedAndTheCommitRecordWritten) {
    for (int refused = 0; refused < 3; ++refused) { // nothing, the flush, the commit record
        run_fixture t;
        t.folder.put(k_root + L"\\b.dll", L"B1");
        t.list(L"b.dll", L"B2");
        t.folder.refuse_flush = refused == 1;
        t.folder.refuse_commit = refused == 2;
        ASSERT_EQ(0, t.run->install());
        EXPECT_EQ(refused == 0, t.run->commit());
        EXPECT_EQ(refused ? L"1.0" : L"2.0", t.folder.version);
        // Refused: the journal stays for the rollback, which puts the old file back.
        EXPECT_EQ(refused != 0, t.folder.exists(journal_path(k_root)));
        if (refused) {
            EXPECT_TRUE(
                std::none_of(t.folder.journal.begin(), t.folder.journal.end(),
                             [](const journal_record& r) { return r.op == journal_op::commit; }));
            EXPECT_EQ(0, t.run->rollback());
        }
        t.run->finish();
        EXPECT_EQ(refused ? L"B1" : L"B2", t.content(L"b.dll"));
        EXPECT_FALSE(t.folder.exists(k_root + L"\\1.0"));
    }
}
