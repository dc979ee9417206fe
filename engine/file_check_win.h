#pragma once
// A file compared with its signed size and SHA-256, for the pipeline, the start of the host
// and the launcher's own update.
#include <windows.h>

#include <cstdint>
#include <string>

#include "util/digest.h"
#include "util/unique_handle.h"

// Compares a file with its signed size and SHA-256; `problem` names both sides.
bool file_matches(const std::wstring& path, const std::wstring& shown, uint64_t size,
                  const sha256_digest& digest, std::wstring& problem);
// The same, hashed from `held`, a handle that lets others only read: for as long as it stays
// open nobody can write, rename or delete the file, so what is started or moved meanwhile is
// what was hashed. On failure `held` is closed.
bool hold_matching_file(const std::wstring& path, const std::wstring& shown, uint64_t size,
                        const sha256_digest& digest, unique_hfile& held, std::wstring& problem);
