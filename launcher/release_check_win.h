#pragma once
// What a launcher built with a release key (launcher/release_key.h) checks before it trusts
// a release, shared by the pipeline and the launcher's own update.
#include <string>

#include "launcher/release_statement.h"

// The server's name of a release's statement, beside its file list.
constexpr wchar_t k_statement_name[] = L"release.sig.txt";
// Next to "Version": the sequence of the last release installed whole.
constexpr wchar_t k_sequence_value[] = L"ReleaseSequence";

bool has_release_key();

// The stored sequence; none, or a value that is not one, counts as 0 (`note` says which).
uint64_t installed_release_sequence(std::wstring* note = nullptr);
long store_release_sequence(uint64_t sequence);

// Fetches "<version>/release.sig.txt" and takes it only when it is well formed, its signature
// verifies with the built-in key, it is for `server_version` and not older than what this PC
// installed. Otherwise `problem` says exactly what failed.
bool fetch_release_statement(const std::wstring& server_version, release_statement& out,
                             std::wstring& problem);

// Compares a file with its signed size and SHA-256; `problem` names both sides.
bool file_matches(const std::wstring& path, const std::wstring& shown, uint64_t size,
                  const sha256_digest& digest, std::wstring& problem);
