#pragma once
// SHA-256 and ECDSA P-256 signature checks through the platform's CNG (bcrypt.dll). The
// library is loaded from the system folder when first needed: the executable gains no
// import, and a bcrypt.dll planted beside it is never loaded. Nothing here throws.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "util/digest.h"
#include "util/unique_handle.h"

// Whether CNG and both algorithms could be opened; `problem` says why not.
bool crypto_available(std::wstring* problem = nullptr);

// One running SHA-256. Usable from any one thread at a time.
class sha256_hash {
public:
    sha256_hash();
    ~sha256_hash();
    sha256_hash(const sha256_hash&) = delete;
    sha256_hash& operator=(const sha256_hash&) = delete;

    bool ok() const { return m_ok; }
    // False (and ok() false from then on) when CNG fails.
    bool update(const void* data, size_t size);
    // Ends the hash; once.
    bool finish(sha256_digest& digest);

private:
    void* m_hash = nullptr; // BCRYPT_HASH_HANDLE
    bool m_ok = false;
};

bool sha256_bytes(const void* data, size_t size, sha256_digest& digest);

// Opens a file to read with only readers beside: no one can write, rename or delete it while
// the handle is open, and a file already open for writing is not opened.
unique_hfile open_for_hashing(const std::wstring& path);

// Hashes a file, read with writers shut out. False when it cannot be opened or read
// (`error`: the Win32 code) or hashing fails (`error` 0).
bool sha256_file(const std::wstring& path, sha256_digest& digest, uint64_t& size, DWORD& error);
// The same for a file already open for reading, from its current position to its end.
bool sha256_handle(HANDLE file, sha256_digest& digest, uint64_t& size, DWORD& error);

enum class signature_check { valid, invalid, unavailable };

// `key`: X then Y of a P-256 public key, 32 bytes each, big-endian. `signature`: r then s;
// exactly 64 bytes, every other length is invalid (the platform may accept trailing bytes).
// The message is hashed with SHA-256 here. `status` receives CNG's answer.
signature_check verify_p256_sha256(const std::string& key, const std::string& message,
                                   const std::string& signature, long* status = nullptr);
