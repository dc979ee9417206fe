#include "util/place_win.h"

#include <utility>

#include "util/file_util_win.h"
#include "util/text_util.h"

namespace {

std::function<void(const std::wstring&, bool)>& link_reporter() {
    // Never destroyed: a worker may still report while statics are torn down.
    static auto* reporter = new std::function<void(const std::wstring&, bool)>();
    return *reporter;
}

thread_local int t_quiet = 0;

bool is_link_attributes(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A folder link goes with RemoveDirectory, a file link with DeleteFile; neither follows it
// (CreateSymbolicLink and RemoveDirectory documentation).
bool remove_link(const std::wstring& path, DWORD attributes) {
    const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(path.c_str())
                                                                 : ::DeleteFileW(path.c_str());
    const DWORD code = ::GetLastError();
    if (link_reporter() && t_quiet == 0)
        link_reporter()(path, removed != FALSE);
    ::SetLastError(removed ? ERROR_SUCCESS : code);
    return removed != FALSE;
}

// Where the handle really leads ends in `relative`: a file link that the attributes do not
// show (Wine reports a Unix link to a file as a plain file) leads elsewhere.
bool leads_here(HANDLE file, const std::wstring& relative) {
    std::wstring final(1024, L'\0');
    for (int tries = 0; tries < 2; ++tries) {
        const DWORD n =
            ::GetFinalPathNameByHandleW(file, &final[0], static_cast<DWORD>(final.size()), 0);
        if (n == 0)
            return false;
        if (n < final.size()) {
            final.resize(n);
            const std::wstring tail = L"\\" + to_lower(relative);
            final = to_lower(final);
            return final.size() >= tail.size() &&
                   final.compare(final.size() - tail.size(), tail.size(), tail) == 0;
        }
        final.assign(n + 1, L'\0');
    }
    return false;
}

} // namespace

quiet_places::quiet_places() {
    ++t_quiet;
}

quiet_places::~quiet_places() {
    --t_quiet;
}

void set_link_reporter(std::function<void(const std::wstring&, bool)> reporter) {
    link_reporter() = std::move(reporter);
}

place::place(std::wstring root, const std::wstring& relative) {
    while (!root.empty() && root.back() == L'\\')
        root.pop_back();
    if (root.empty() || !is_safe_relative_name(relative))
        return;
    m_root = std::move(root);
    m_relative = replace_all(relative, L"/", L"\\");
}

place place::at(const std::wstring& root, const std::wstring& path) {
    const std::wstring prefix = root + L"\\";
    if (root.empty() || path.size() <= prefix.size() ||
        to_lower(path.substr(0, prefix.size())) != to_lower(prefix))
        return place();
    std::wstring rest = path.substr(prefix.size());
    while (!rest.empty() && (rest.back() == L'\\' || rest.back() == L'/'))
        rest.pop_back();
    return place(root, rest);
}

place place::inside(const std::wstring& folder, const std::wstring& relative) {
    const size_t cut = folder.find_last_of(L"\\/");
    if (cut == std::wstring::npos || cut == 0)
        return place();
    return place(folder.substr(0, cut), folder.substr(cut + 1) + L"\\" + relative);
}

std::wstring place::path() const {
    return valid() ? m_root + L"\\" + m_relative : std::wstring();
}

place place::child(const std::wstring& relative) const {
    return valid() ? place(m_root, m_relative + L"\\" + relative) : place();
}

bool place::clear_way(bool self) const {
    if (!valid()) {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    const std::wstring full = path();
    for (size_t end = m_root.size() + 1;;) {
        const size_t next = full.find(L'\\', end);
        const bool last = next == std::wstring::npos;
        if (last && !self)
            return true;
        const std::wstring step = full.substr(0, last ? full.size() : next);
        const DWORD attributes = ::GetFileAttributesW(step.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return true; // nothing below exists
        if (is_link_attributes(attributes))
            return remove_link(step, attributes);
        if (last)
            return true;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            ::SetLastError(ERROR_DIRECTORY);
            return false; // a file where a folder must be
        }
        end = next + 1;
    }
}

bool place::exists() const {
    return clear_way() && path_exists(path());
}

bool place::is_folder() const {
    return clear_way() && ::is_folder(path());
}

bool place::make_folders() const {
    if (!clear_way())
        return false;
    const std::wstring full = path();
    for (size_t end = m_root.size() + 1;;) {
        const size_t next = full.find(L'\\', end);
        const std::wstring step = full.substr(0, next == std::wstring::npos ? full.size() : next);
        if (!::is_folder(step) && !::CreateDirectoryW(step.c_str(), nullptr) &&
            !(::GetLastError() == ERROR_ALREADY_EXISTS && ::is_folder(step)))
            return false;
        if (next == std::wstring::npos)
            return true;
        end = next + 1;
    }
}

bool place::make_parent() const {
    const size_t cut = m_relative.rfind(L'\\');
    if (!valid())
        return false;
    return cut == std::wstring::npos || place(m_root, m_relative.substr(0, cut)).make_folders();
}

unique_hfile place::open(DWORD access, DWORD share, DWORD disposition, DWORD attributes) const {
    unique_hfile file;
    if (!clear_way())
        return file;
    // The link itself is opened, never what it points at; one planted after the walk, or one
    // the attributes do not show, is refused. (It is not deleted here: Wine reports a Unix
    // link to a file as a plain file, and its DeleteFile then removes what the link points
    // at, where Windows removes the link.)
    file.reset(::CreateFileW(path().c_str(), access, share, nullptr, disposition,
                             attributes | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file)
        return file;
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        !leads_here(file.get(), m_relative)) {
        file.reset();
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
    }
    return file;
}

bool place::move_to(const place& to, DWORD flags) const {
    if (!clear_way(false) || !to.clear_way())
        return false;
    return ::MoveFileExW(path().c_str(), to.path().c_str(), flags) != FALSE;
}

bool place::remove() const {
    // delete_tree removes a link as a link, below and at this place.
    return clear_way(false) && delete_tree(path());
}

std::vector<place> place::files() const {
    std::vector<place> out;
    if (!clear_way())
        return out;
    WIN32_FIND_DATAW data;
    unique_hfind find(::FindFirstFileW((path() + L"\\*").c_str(), &data));
    if (!find)
        return out;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L".." || (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        const place item = child(name);
        if (!item.valid())
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            const std::vector<place> below = item.files();
            out.insert(out.end(), below.begin(), below.end());
        } else {
            out.push_back(item);
        }
    } while (::FindNextFileW(find.get(), &data));
    return out;
}
