#pragma once
// A file or folder below a folder the launcher owns (its documents folder), named by a
// relative name that passed the one name rule. Every operation first walks from that folder
// down, one component at a time: a junction or symbolic link met on the way is removed as a
// link and never followed, and when it cannot be removed the operation fails. So whatever
// someone planted below the folder, nothing here reaches outside it. This is the only way the
// update, the rollback, the recovery, the self-update and the log touch a file there.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "util/unique_handle.h"

class place {
public:
    place() = default;
    // Invalid when `relative` fails is_safe_relative_name or `root` is empty.
    place(std::wstring root, const std::wstring& relative);
    // The place at `path`, which must lie below `root`; invalid otherwise.
    static place at(const std::wstring& root, const std::wstring& path);
    // `relative` inside `folder`, walked from the folder's parent, so that a link in place
    // of `folder` itself is met too.
    static place inside(const std::wstring& folder, const std::wstring& relative);

    bool valid() const { return !m_relative.empty(); }
    std::wstring path() const;
    const std::wstring& root() const { return m_root; }
    // "\" between folders.
    const std::wstring& relative() const { return m_relative; }
    place child(const std::wstring& relative) const;

    // Every existing folder from the root down to this place is a real folder; with `self`,
    // this place is no link either. A link met is removed as a link.
    bool clear_way(bool self = true) const;
    // After clearing the way; false for a link that could not be removed.
    bool exists() const;
    bool is_folder() const;
    // This place as a folder, every missing folder on the way created as a real one.
    bool make_folders() const;
    bool make_parent() const;
    // CreateFileW on the cleared way, never through a link: a handle to a link is refused.
    unique_hfile open(DWORD access, DWORD share, DWORD disposition,
                      DWORD attributes = FILE_ATTRIBUTE_NORMAL) const;
    // MoveFileExW with `flags`; the way to both places is cleared, and a link at the target
    // is removed first (MOVEFILE_REPLACE_EXISTING would otherwise keep what it points at).
    bool move_to(const place& to, DWORD flags) const;
    // The file, or the folder with everything in it; a link is removed as a link.
    bool remove() const;
    // Every file below this folder, recursively, without entering a link.
    std::vector<place> files() const;

private:
    std::wstring m_root;
    std::wstring m_relative;
};

// Told of every link a place removed (or could not), so that the log can say it.
void set_link_reporter(std::function<void(const std::wstring& path, bool removed)> reporter);
// While one lives, this thread's places report nothing: the log itself opens its file
// through a place, under its own lock.
class quiet_places {
public:
    quiet_places();
    ~quiet_places();
    quiet_places(const quiet_places&) = delete;
    quiet_places& operator=(const quiet_places&) = delete;
};
