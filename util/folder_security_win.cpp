#include "util/folder_security_win.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <utility>

#include "util/folder_security.h"
#include "util/text_util.h"

namespace {

// ProcessRedirectionTrustPolicy of PROCESS_MITIGATION_POLICY, missing from older headers.
constexpr int k_redirection_trust_policy = 16;
// PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY: bit 0 is EnforceRedirectionTrust.
struct redirection_trust_policy {
    DWORD flags;
};
using set_mitigation_policy_fn = BOOL(WINAPI*)(int, PVOID, SIZE_T);

constexpr size_t k_max_notes = 64;
constexpr int k_max_depth = 32;
size_t g_notes_left_out = 0;

// Built on first use: the first caller runs during static initialisation.
std::vector<security_note>& kept_notes() {
    static std::vector<security_note> notes;
    return notes;
}

void note(int level, std::wstring text) {
    if (kept_notes().size() < k_max_notes)
        kept_notes().push_back({level, std::move(text)});
    else
        ++g_notes_left_out;
}

std::wstring error_text(DWORD error) {
    return L" (error " + std::to_wstring(error) + L")";
}

std::wstring sid_text(PSID sid) {
    LPWSTR text = nullptr;
    if (!sid || !::ConvertSidToStringSidW(sid, &text))
        return std::wstring();
    unique_hlocal owner(text);
    return text;
}

// Enables the backup, restore and take-ownership privileges an elevated administrator
// holds, and puts them back as they were. With them, an entry another user made and closed
// to administrators can still be read, taken over and removed (the SetNamedSecurityInfoW
// documentation: WRITE_OWNER access or SE_TAKE_OWNERSHIP_NAME to set an owner; without
// SeRestorePrivilege the new owner must be in the caller's token, with SE_GROUP_OWNER,
// which Administrators is in an elevated administrator's token).
class privilege_scope {
public:
    privilege_scope() {
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                m_token.put()))
            return;
        privileges wanted = {};
        const wchar_t* names[] = {SE_BACKUP_NAME, SE_RESTORE_NAME, SE_TAKE_OWNERSHIP_NAME};
        for (const wchar_t* name : names) {
            LUID_AND_ATTRIBUTES& p = wanted.entries[wanted.count];
            if (::LookupPrivilegeValueW(nullptr, name, &p.Luid)) {
                p.Attributes = SE_PRIVILEGE_ENABLED;
                ++wanted.count;
            }
        }
        DWORD size = 0;
        m_adjusted = wanted.count &&
                     ::AdjustTokenPrivileges(m_token.get(), FALSE, wanted.as_token(),
                                             sizeof(m_previous), m_previous.as_token(), &size);
    }
    ~privilege_scope() {
        if (m_adjusted)
            ::AdjustTokenPrivileges(m_token.get(), FALSE, m_previous.as_token(), 0, nullptr,
                                    nullptr);
    }
    privilege_scope(const privilege_scope&) = delete;
    privilege_scope& operator=(const privilege_scope&) = delete;

private:
    // TOKEN_PRIVILEGES with room for three entries.
    struct privileges {
        DWORD count;
        LUID_AND_ATTRIBUTES entries[3];
        TOKEN_PRIVILEGES* as_token() { return reinterpret_cast<TOKEN_PRIVILEGES*>(this); }
    };
    unique_hhandle m_token;
    privileges m_previous = {};
    bool m_adjusted = false;
};

// A handle to the entry itself, never to what a link in its place points at
// (FILE_FLAG_OPEN_REPARSE_POINT, see "Symbolic Link Effects on File Systems Functions");
// FILE_FLAG_BACKUP_SEMANTICS opens folders too. A file is opened for its security and
// attributes only, which no sharing mode refuses. A folder is opened for listing and shared
// for reading only, so that while the handle is held nobody can rename it, delete it or turn
// it into a link: the path through it keeps leading where it was checked.
unique_hfile open_entry(const std::wstring& path, bool folder) {
    const DWORD share =
        folder ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    const DWORD read = READ_CONTROL | FILE_READ_ATTRIBUTES | (folder ? FILE_LIST_DIRECTORY : 0);
    unique_hfile h(::CreateFileW(path.c_str(), read | WRITE_DAC | WRITE_OWNER, share, nullptr,
                                 OPEN_EXISTING, flags, nullptr));
    if (!h && ::GetLastError() == ERROR_ACCESS_DENIED)
        h.reset(::CreateFileW(path.c_str(), read, share, nullptr, OPEN_EXISTING, flags, nullptr));
    return h;
}

DWORD attributes_of(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info;
    return ::GetFileInformationByHandle(h, &info) ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

bool is_link(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Removes the link, not its target: RemoveDirectory and DeleteFile act on a symbolic link
// itself ("Symbolic Link Effects on File Systems Functions"), and RemoveDirectory removes a
// junction whatever its target holds.
bool remove_link(const std::wstring& path, DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(path.c_str())
                                                   : ::DeleteFileW(path.c_str());
}

// Sets the descriptor on this one object only. SetKernelObjectSecurity does not carry
// inheritable entries down to what is below, unlike SetSecurityInfo, so no link below can
// take the change elsewhere.
bool set_on_object(HANDLE h, PSECURITY_DESCRIPTOR sd) {
    return ::SetKernelObjectSecurity(h, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                     sd) != FALSE;
}

struct entry {
    std::wstring name;
    DWORD attributes;
};

std::vector<entry> entries_of(const std::wstring& folder) {
    std::vector<entry> entries;
    WIN32_FIND_DATAW data;
    unique_hfind find(::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr, 0));
    if (!find)
        return entries;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            entries.push_back({name, data.dwFileAttributes});
    } while (::FindNextFileW(find.get(), &data));
    return entries;
}

// A real folder by the find data, opened as one; a link is never opened as a folder.
bool listed_as_folder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Removes an entry that nobody trusted made, with everything in it. A folder is first taken
// from its owner, so that nothing in it can be turned into a link while it is emptied.
// `held`: h was opened as a folder (open_entry).
bool remove_entry(const std::wstring& path, unique_hfile h, bool held, int depth) {
    const DWORD attributes = h ? attributes_of(h.get()) : ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (is_link(attributes)) {
        h.reset();
        return remove_link(path, attributes);
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        unique_hlocal admins_only = program_root_descriptor(true);
        if (!h || !held || !admins_only || !set_on_object(h.get(), admins_only.get()) ||
            depth >= k_max_depth)
            return false;
        if (is_link(attributes_of(h.get()))) {
            h.reset();
            return remove_link(path, FILE_ATTRIBUTE_DIRECTORY);
        }
        bool all = true;
        for (const entry& e : entries_of(path)) {
            const std::wstring child = path + L"\\" + e.name;
            const bool folder = listed_as_folder(e.attributes);
            all = remove_entry(child, open_entry(child, folder), folder, depth + 1) && all;
        }
        h.reset();
        return all && ::RemoveDirectoryW(path.c_str());
    }
    h.reset();
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return ::DeleteFileW(path.c_str()) != FALSE;
}

struct walk_state {
    std::wstring root;
    std::wstring user_sid;
    // Links or foreign entries that stay: the list is then not carried below the root.
    size_t left = 0;
};

void walk(const std::wstring& rel, int depth, walk_state& state) {
    const std::wstring folder = rel.empty() ? state.root : state.root + L"\\" + rel;
    for (const entry& e : entries_of(folder)) {
        const std::wstring child_rel = rel.empty() ? e.name : rel + L"\\" + e.name;
        const std::wstring shown = printable_text(child_rel);
        const std::wstring path = state.root + L"\\" + child_rel;
        const bool held = listed_as_folder(e.attributes);
        unique_hfile h = open_entry(path, held);
        const DWORD open_error = h ? ERROR_SUCCESS : ::GetLastError();
        // The find data's attributes cannot be trusted alone; either saying "link" counts.
        const DWORD attributes = h ? attributes_of(h.get()) : ::GetFileAttributesW(path.c_str());
        if (is_link(attributes) || is_link(::GetFileAttributesW(path.c_str()))) {
            h.reset();
            if (remove_link(path, attributes == INVALID_FILE_ATTRIBUTES
                                      ? ::GetFileAttributesW(path.c_str())
                                      : attributes)) {
                note(2, L"removed the link " + shown);
            } else {
                note(3, L"could not remove the link " + shown + error_text(::GetLastError()));
                ++state.left;
            }
            continue;
        }
        std::wstring owner;
        DWORD error = open_error;
        if (h) {
            PSID owner_sid = nullptr;
            PSECURITY_DESCRIPTOR sd = nullptr;
            error = ::GetSecurityInfo(h.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                      &owner_sid, nullptr, nullptr, nullptr, &sd);
            unique_hlocal keep(sd);
            if (error == ERROR_SUCCESS)
                owner = sid_text(owner_sid);
        }
        // Only a refusal makes an entry foreign: what the launcher made, administrators may
        // read. Any other failure keeps it.
        if (error != ERROR_SUCCESS && error != ERROR_ACCESS_DENIED) {
            note(3, L"could not read the owner of " + shown + error_text(error));
            ++state.left;
            continue;
        }
        if (!is_trusted_owner(owner, state.user_sid)) {
            const std::wstring whose = owner.empty() ? L"an unreadable owner" : owner;
            if (remove_entry(path, std::move(h), held, 0)) {
                note(2, L"removed " + shown + L", owned by " + whose);
            } else {
                note(3, L"could not remove " + shown + L", owned by " + whose +
                            error_text(::GetLastError()));
                ++state.left;
            }
            continue;
        }
        // Walked while its handle is held, so that nothing on the way can change.
        if (held && h && (attributes & FILE_ATTRIBUTE_DIRECTORY) && depth < k_max_depth)
            walk(child_rel, depth + 1, state);
    }
}

bool same_entries(PACL a, PACL b) {
    if (!a || !b || a->AceCount != b->AceCount)
        return false;
    for (WORD i = 0; i < a->AceCount; ++i) {
        void* x = nullptr;
        void* y = nullptr;
        if (!::GetAce(a, i, &x) || !::GetAce(b, i, &y))
            return false;
        const WORD size = static_cast<ACE_HEADER*>(x)->AceSize;
        if (size != static_cast<ACE_HEADER*>(y)->AceSize || std::memcmp(x, y, size) != 0)
            return false;
    }
    return true;
}

// Owner, protection and entries as in `wanted`; the automatic-inheritance bits the system
// adds when it propagates do not count.
bool already_as_wanted(HANDLE h, PSECURITY_DESCRIPTOR wanted) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (::GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                          &owner, nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS)
        return false;
    unique_hlocal keep(sd);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    PSID wanted_owner = nullptr;
    PACL wanted_dacl = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    return ::GetSecurityDescriptorControl(sd, &control, &revision) &&
           (control & SE_DACL_PROTECTED) &&
           ::GetSecurityDescriptorOwner(wanted, &wanted_owner, &defaulted) && owner &&
           wanted_owner && ::EqualSid(owner, wanted_owner) &&
           ::GetSecurityDescriptorDacl(wanted, &present, &wanted_dacl, &defaulted) &&
           same_entries(dacl, wanted_dacl);
}

} // namespace

bool enforce_redirection_trust() {
    // Looked up at run time: Windows has it only from a late Windows 10 update on
    // (PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY: EnforceRedirectionTrust keeps the
    // process from following junctions made by users who are not administrators).
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    if (!kernel32)
        return false;
    const auto set = reinterpret_cast<set_mitigation_policy_fn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(kernel32, "SetProcessMitigationPolicy")));
    if (!set)
        return false;
    redirection_trust_policy policy;
    policy.flags = 1;
    return set(k_redirection_trust_policy, &policy, sizeof(policy)) != FALSE;
}

unique_hlocal program_root_descriptor(bool taken_over) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            taken_over ? k_taken_over_sddl : k_program_root_sddl, SDDL_REVISION_1, &sd, nullptr))
        return unique_hlocal();
    return unique_hlocal(sd);
}

std::wstring current_user_sid() {
    unique_hhandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return std::wstring();
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0 || size > 4096)
        return std::wstring();
    std::vector<unsigned char> buffer(size);
    if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        return std::wstring();
    return sid_text(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}

bool secure_program_root(const std::wstring& root, const std::wstring& user_sid) {
    privilege_scope privileges;
    const unique_hlocal wanted = program_root_descriptor();
    std::wstring why;

    // GetFileAttributes answers for a link itself, not for its target.
    const DWORD found = ::GetFileAttributesW(root.c_str());
    if (found != INVALID_FILE_ATTRIBUTES &&
        (is_link(found) || !(found & FILE_ATTRIBUTE_DIRECTORY))) {
        why = is_link(found) ? L"a link" : L"a file";
        if (!remove_link(root, found)) {
            note(3, root + L" is " + why + L" that could not be removed" +
                        error_text(::GetLastError()) + L": not used");
            return false;
        }
    }
    if (found == INVALID_FILE_ATTRIBUTES || !why.empty()) {
        // Made with its list where the caller may name Administrators as owner; otherwise
        // plainly, and set below.
        SECURITY_ATTRIBUTES sa = {sizeof(sa), wanted.get(), FALSE};
        if (!::CreateDirectoryW(root.c_str(), wanted ? &sa : nullptr) &&
            ::GetLastError() != ERROR_ALREADY_EXISTS &&
            !::CreateDirectoryW(root.c_str(), nullptr) &&
            ::GetLastError() != ERROR_ALREADY_EXISTS) {
            note(3, L"could not create " + root + error_text(::GetLastError()) + L": not used");
            return false;
        }
    }

    unique_hfile h = open_entry(root, true);
    const DWORD attributes = h ? attributes_of(h.get()) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || is_link(attributes) ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        note(3, root + L" changed while it was being secured" + error_text(::GetLastError()) +
                    L": not used");
        return false;
    }
    if (!wanted) {
        note(3, L"could not build the access list of " + root + error_text(::GetLastError()));
        return true;
    }
    if (why.empty() && !already_as_wanted(h.get(), wanted.get()))
        why = L"another owner or access list";

    const size_t notes_before = kept_notes().size();
    // The folder itself first, so that nobody else adds to it while it is walked.
    if (!set_on_object(h.get(), wanted.get())) {
        note(3, L"could not set the access list of " + root + error_text(::GetLastError()));
        return true;
    }
    if (!why.empty())
        note(0, root + L" secured (it was " + why +
                    L"): owner Administrators; SYSTEM and Administrators full control, Users "
                    L"read and execute");
    walk_state state;
    state.root = root;
    state.user_sid = user_sid;
    walk(L"", 0, state);
    // A folder found as wanted had its list carried down at an earlier start, and what was
    // made since inherited it: the tree need not be rewritten at every start.
    if (why.empty() && kept_notes().size() == notes_before && g_notes_left_out == 0)
        return true;

    // Then down to what stays below it. SetSecurityInfo propagates inheritable entries to
    // the existing children ("Automatic Propagation of Inheritable ACEs");
    // PROTECTED_DACL_SECURITY_INFORMATION keeps the documents folder's entries out
    // (SECURITY_INFORMATION), and the OICI entries reach folders and files alike.
    if (state.left == 0) {
        PSID owner = nullptr;
        PACL dacl = nullptr;
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        ::GetSecurityDescriptorOwner(wanted.get(), &owner, &defaulted);
        ::GetSecurityDescriptorDacl(wanted.get(), &present, &dacl, &defaulted);
        const DWORD error =
            ::SetSecurityInfo(h.get(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                  PROTECTED_DACL_SECURITY_INFORMATION,
                              owner, nullptr, dacl, nullptr);
        if (error != ERROR_SUCCESS)
            note(3, L"could not carry the access list below " + root + error_text(error));
    } else {
        note(3, L"the access list of " + root + L" is not carried below it: " + L"entries left: " +
                    std::to_wstring(state.left));
    }
    return true;
}

std::vector<security_note> take_program_root_report() {
    std::vector<security_note> out;
    out.swap(kept_notes());
    if (g_notes_left_out) {
        out.push_back({2, std::to_wstring(g_notes_left_out) + L" more lines left out"});
        g_notes_left_out = 0;
    }
    return out;
}
