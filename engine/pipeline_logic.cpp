#include "engine/pipeline_logic.h"

#include <climits>

#include "util/text_util.h"

std::wstring version_page_path(const std::wstring& download_path) {
    return download_path + L"/version.html";
}

std::vector<std::wstring> filelist_lines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    split_text(replace_all(text, L"\r\n", L"\n"), L"\n", lines, false, 0, false);
    return lines;
}

int64_t parse_size_field(const std::wstring& field) {
    size_t i = 0;
    while (i < field.size() && (field[i] == L' ' || (field[i] >= L'\t' && field[i] <= L'\r')))
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == L'+' || field[i] == L'-'))
        negative = field[i++] == L'-';
    // Saturates like the runtime's conversion instead of overflowing.
    uint64_t value = 0;
    const uint64_t limit = negative ? static_cast<uint64_t>(INT64_MAX) + 1 : INT64_MAX;
    const size_t digits_at = i;
    for (; i < field.size() && field[i] >= L'0' && field[i] <= L'9'; ++i) {
        const uint64_t digit = static_cast<uint64_t>(field[i] - L'0');
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
    }
    if (i == digits_at)
        return k_unknown_size;
    if (negative)
        return value == limit ? INT64_MIN : -static_cast<int64_t>(value);
    return static_cast<int64_t>(value);
}

filelist_line_kind classify_filelist_line(const std::wstring& line, std::wstring& trimmed,
                                          FileInfo& entry) {
    trimmed = trim(line);
    if (!trimmed.empty() && (trimmed[0] == L';' || trimmed[0] == L'#'))
        return filelist_line_kind::comment;
    std::vector<std::wstring> fields;
    split_text(trimmed, L"|", fields, true, 3, false);
    if (fields.size() < 3)
        return filelist_line_kind::too_few_fields;
    entry.name = fields[0];
    entry.size = parse_size_field(fields[1]);
    entry.version = fields[2];
    return filelist_line_kind::entry;
}

namespace {

bool ends_with(const std::wstring& text, const std::wstring& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

bool path_within(const std::wstring& inner, const std::wstring& outer) {
    auto plain = [](const std::wstring& path) {
        std::wstring p = to_lower(replace_all(path, L"/", L"\\"));
        while (!p.empty() && p.back() == L'\\')
            p.pop_back();
        return p;
    };
    const std::wstring in = plain(inner);
    const std::wstring out = plain(outer);
    return !out.empty() && in.compare(0, out.size(), out) == 0 &&
           (in.size() == out.size() || in[out.size()] == L'\\');
}

entry_paths derive_entry_paths(const FileInfo& entry, const std::wstring& program_folder,
                               const std::wstring& local_version, const std::wstring& download_path,
                               const std::wstring& server_version) {
    entry_paths p;
    const size_t slash = entry.name.rfind(L'/');
    if (slash != std::wstring::npos) {
        p.folder_part = entry.name.substr(0, slash);
        p.file_name = entry.name.substr(slash + 1);
    } else {
        p.file_name = entry.name;
    }
    const bool has_folder = slash != std::wstring::npos;
    p.local_folder = program_folder + L"\\" + (has_folder ? p.folder_part + L"\\" : L"");
    p.local_file = p.local_folder + p.file_name;

    p.is_archive = ends_with(p.file_name, L".zip");
    p.archive_name = p.is_archive ? p.file_name : p.file_name + L".zip";
    p.server_path = download_path + L"/" + server_version + L"/" +
                    (has_folder ? p.folder_part + L"/" : L"") + p.archive_name;
    p.downloaded_archive = p.local_folder + p.archive_name;
    p.target = p.downloaded_archive.substr(0, p.downloaded_archive.size() - 4);

    const std::wstring backup_root = program_folder + L"\\" + local_version;
    p.backup_folder = backup_root + L"\\" + (has_folder ? p.folder_part + L"/" : L"");
    if (p.is_archive) {
        const std::wstring title = split_path(p.file_name, path_title);
        p.backup_item = p.backup_folder + title;
        p.local_item = p.local_folder + title;
    } else {
        p.backup_item = p.backup_folder + p.file_name;
        p.local_item = p.local_file;
    }
    const std::wstring lower = to_lower(p.archive_name);
    p.is_launcher_archive = lower == L"orvexlauncher.exe.zip" || lower == L"orvexlauncher.zip";
    return p;
}

params_steps normalise_params(const std::wstring& text, const std::wstring& url_prefix,
                              const std::wstring& title_prefix) {
    params_steps s;
    s.after_blanks = trim(replace_all(text, L"%20", L" "));
    s.after_url_prefix = replace_all(s.after_blanks, url_prefix, L"");
    std::wstring t = s.after_url_prefix;
    const size_t title = t.find(title_prefix);
    if (!title_prefix.empty() && title != std::wstring::npos) {
        s.had_title_prefix = true;
        t = t.substr(title + title_prefix.size());
        s.after_title_prefix = t;
    }
    const size_t blank = t.find(L' ');
    if (blank != std::wstring::npos && blank != 0) {
        s.had_postfix = true;
        t = t.substr(0, blank);
        s.after_postfix = t;
    }
    if (t.size() > 8)
        t.resize(8);
    s.final_params = t;
    return s;
}
