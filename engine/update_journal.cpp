#include "engine/update_journal.h"

#include "engine/pipeline_logic.h"
#include "util/text_util.h"

namespace {

const wchar_t* op_name(journal_op op) {
    switch (op) {
    case journal_op::begin:
        return L"begin";
    case journal_op::move:
        return L"move";
    case journal_op::add:
        return L"add";
    case journal_op::commit:
        break;
    }
    return L"commit";
}

// The backup item of a move lies inside the backup folder of the run that wrote it.
bool is_inside_backup(const std::wstring& backup, const std::wstring& from_version) {
    const std::wstring root = from_version + L"\\";
    return backup.size() > root.size() && backup.compare(0, root.size(), root) == 0 &&
           is_safe_relative_name(backup);
}

} // namespace

std::wstring journal_path(const std::wstring& program_folder) {
    return program_folder + L"\\" + k_journal_name;
}

std::string format_journal_record(const journal_record& record) {
    std::wstring line = op_name(record.op);
    if (record.op != journal_op::commit)
        line += L"|" + record.item;
    if (record.op == journal_op::begin || record.op == journal_op::move)
        line += L"|" + record.backup;
    return utf8_encode(line) + "\n";
}

journal_contents parse_journal(const std::string& bytes) {
    journal_contents j;
    const size_t complete = bytes.rfind('\n');
    if (complete == std::string::npos)
        return j;
    std::vector<std::wstring> lines;
    split_text(utf8_decode(bytes.substr(0, complete)), L"\n", lines, true);
    for (const std::wstring& line : lines) {
        std::vector<std::wstring> f;
        split_text(line, L"|", f, true);
        bool ok = false;
        if (f.size() == 3 && f[0] == L"begin" && !j.has_begin) {
            ok = is_safe_folder_name(f[1]) && is_safe_folder_name(f[2]);
            if (ok) {
                j.has_begin = true;
                j.from_version = f[1];
                j.to_version = f[2];
            }
        } else if (j.has_begin && !j.committed && f.size() == 3 && f[0] == L"move") {
            ok = is_safe_relative_name(f[1]) && is_inside_backup(f[2], j.from_version);
            if (ok)
                j.changes.push_back({journal_op::move, f[1], f[2]});
        } else if (j.has_begin && !j.committed && f.size() == 2 && f[0] == L"add") {
            // The backup folder itself is never an added item.
            ok = is_safe_relative_name(f[1]) && to_lower(f[1]) != to_lower(j.from_version);
            if (ok)
                j.changes.push_back({journal_op::add, f[1], L""});
        } else if (j.has_begin && f.size() == 1 && f[0] == L"commit") {
            ok = true;
            j.committed = true;
        }
        if (!ok)
            j.refused.push_back(line);
    }
    return j;
}
