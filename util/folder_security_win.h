#pragma once
// The program's folder below the documents folder made administrators' own at every start,
// before anything below it is read or written, and what other local users left in it removed.
#include <windows.h>

#include <string>
#include <vector>

#include "util/unique_handle.h"

// Turns on the system's redirection trust (a process that follows no junction made by a
// user who is not an administrator) where the system has it. Only kernel32 and no C
// runtime: meant for the process entry. False where it is missing or refused.
bool enforce_redirection_trust();

// Makes `root` a real folder (a link or file in its place is removed, never followed)
// owned by Administrators with the list k_program_root_sddl, brings what is below it under
// that list, and removes every link below it and everything below it owned by an account
// that is_trusted_owner refuses. False when `root` cannot be used: a link or file in its
// place that could not be removed, or no folder could be made. What it did is kept for
// take_program_root_report: the log lives below `root`, so it cannot be open yet.
// `user_sid` is the account running the launcher (current_user_sid()).
bool secure_program_root(const std::wstring& root, const std::wstring& user_sid);

// What secure_program_root did, as log lines with their level, handed over once.
struct security_note {
    int level;
    std::wstring text;
};
std::vector<security_note> take_program_root_report();

// The descriptor of k_program_root_sddl (or k_taken_over_sddl), in LocalAlloc'ed memory.
unique_hlocal program_root_descriptor(bool taken_over = false);
// The SID of the account this process runs as, in its string form; empty on failure.
std::wstring current_user_sid();
