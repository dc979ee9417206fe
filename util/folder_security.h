#pragma once
// What the program's folder below the documents folder must look like, and whose files may
// stay in it. Every local user may write to the public documents folder, while the launcher
// runs as administrator: only administrators may change what it reads and starts.
#include <string>

// Owner Administrators; a protected list, so that nothing is inherited from the documents
// folder: SYSTEM and Administrators full control, Users read and execute (0x1200a9, which
// is FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), each inherited by every folder and file
// below (OICI).
extern const wchar_t k_program_root_sddl[];
// What a folder put there by someone else gets while it is emptied: administrators only.
extern const wchar_t k_taken_over_sddl[];

// The accounts that may own something below the program folder: SYSTEM, Administrators,
// TrustedInstaller and the account running the launcher (user_sid; none when empty).
// Anything else was put there by another local user. SIDs in their string form.
bool is_trusted_owner(const std::wstring& owner_sid, const std::wstring& user_sid);
