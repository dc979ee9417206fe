#pragma once
// What a launcher built with a release key (engine/release_key.h) checks before it trusts
// a release, shared by the pipeline and the launcher's own update.
#include <windows.h>

#include <string>

#include "engine/file_check_win.h"
#include "engine/release_statement.h"
#include "util/unique_handle.h"

// The server's name of a release's statement, beside its file list.
constexpr wchar_t k_statement_name[] = L"release.sig.txt";
// Next to "Version": the sequence of the last release installed whole.
constexpr wchar_t k_sequence_value[] = L"ReleaseSequence";
// In the program folder: the statement of the release installed whole, as it was signed. It
// lies where others may write, so it is verified again whenever it is read.
constexpr wchar_t k_installed_statement_name[] = L"~release.sig.txt";

bool has_release_key();

// The stored sequence; none, or a value that is not one, counts as 0 (`note` says which).
uint64_t installed_release_sequence(std::wstring* note = nullptr);
long store_release_sequence(uint64_t sequence);

// Fetches "<version>/release.sig.txt" and takes it only when it is well formed, its signature
// verifies with the built-in key, it is for `server_version` and not older than what this PC
// installed nor below the build's floor (engine/release_key.h). Otherwise `problem` says
// exactly what failed.
bool fetch_release_statement(const std::wstring& server_version, release_statement& out,
                             std::wstring& problem);

// ---- the statement of the installed release
std::wstring installed_statement_path(const std::wstring& program_folder);
// The exact text that was signed, signature line included.
std::string statement_text(const release_statement& statement);
// Takes the stored statement only when it is well formed, verifies with the built-in key and
// is for `version`; otherwise `problem` says why.
bool read_installed_statement(const std::wstring& program_folder, const std::wstring& version,
                              release_statement& out, std::wstring& problem);
// At the end of a run that installed `version` whole, the stored statement's sequence
// becomes this PC's (never lowered); `sequence` receives it. False with `problem` otherwise.
bool store_installed_sequence(const std::wstring& program_folder, const std::wstring& version,
                              uint64_t& sequence, std::wstring& problem);
// The signed size and SHA-256 of a file installed by the release, by its path below the
// program folder ("\" or "/"); a member of a listed archive lies in the archive's folder.
bool find_installed_file(const release_statement& statement, const std::wstring& relative,
                         uint64_t& size, sha256_digest& digest);
