#include "util/crypto_win.h"

#include <bcrypt.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "util/system_library_win.h"
#include "util/unique_handle.h"

namespace {

constexpr NTSTATUS k_status_success = 0;
constexpr NTSTATUS k_status_unavailable = static_cast<NTSTATUS>(0xC0000002); // not implemented

// Functions from bcrypt.h, reached through GetProcAddress: nothing is linked against it.
struct cng_api {
    decltype(&BCryptOpenAlgorithmProvider) open_algorithm = nullptr;
    decltype(&BCryptCreateHash) create_hash = nullptr;
    decltype(&BCryptHashData) hash_data = nullptr;
    decltype(&BCryptFinishHash) finish_hash = nullptr;
    decltype(&BCryptDestroyHash) destroy_hash = nullptr;
    decltype(&BCryptImportKeyPair) import_key_pair = nullptr;
    decltype(&BCryptVerifySignature) verify_signature = nullptr;
    decltype(&BCryptDestroyKey) destroy_key = nullptr;
};

template <typename F> bool resolve(HMODULE module, const char* name, F& out) {
    // Through a plain function pointer type, so that -Wcast-function-type stays quiet.
    out = reinterpret_cast<F>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
    return out != nullptr;
}

// Loaded once per process, on first use (a function-local static: thread-safe).
class cng {
public:
    cng() {
        m_module.reset(load_system_library(L"bcrypt.dll"));
        if (!m_module) {
            m_problem = L"bcrypt.dll could not be loaded from the system folder (error " +
                        std::to_wstring(::GetLastError()) + L")";
            return;
        }
        HMODULE m = m_module.get();
        if (!resolve(m, "BCryptOpenAlgorithmProvider", api.open_algorithm) ||
            !resolve(m, "BCryptCreateHash", api.create_hash) ||
            !resolve(m, "BCryptHashData", api.hash_data) ||
            !resolve(m, "BCryptFinishHash", api.finish_hash) ||
            !resolve(m, "BCryptDestroyHash", api.destroy_hash) ||
            !resolve(m, "BCryptImportKeyPair", api.import_key_pair) ||
            !resolve(m, "BCryptVerifySignature", api.verify_signature) ||
            !resolve(m, "BCryptDestroyKey", api.destroy_key)) {
            m_problem = L"bcrypt.dll lacks a function this launcher needs";
            return;
        }
        // Opening a provider is costly: each is opened once and shared (CNG allows that).
        NTSTATUS status = api.open_algorithm(&sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
        if (status == k_status_success)
            status = api.open_algorithm(&ecdsa_p256, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
        if (status != k_status_success)
            m_problem = L"CNG has no SHA-256 or ECDSA P-256 (status 0x" + hex(status) + L")";
    }
    cng(const cng&) = delete;
    cng& operator=(const cng&) = delete;

    bool ok() const { return m_problem.empty(); }
    const std::wstring& problem() const { return m_problem; }

    static std::wstring hex(NTSTATUS status) {
        wchar_t text[16];
        ::wsprintfW(text, L"%08X", static_cast<unsigned>(status));
        return text;
    }

    cng_api api;
    BCRYPT_ALG_HANDLE sha256 = nullptr;
    BCRYPT_ALG_HANDLE ecdsa_p256 = nullptr;

private:
    unique_hmodule m_module;
    std::wstring m_problem;
};

cng& the_cng() {
    // Never destroyed: a worker the user left behind by closing the window may still be
    // hashing while the process runs its exit handlers.
    static cng* instance = new cng;
    return *instance;
}

} // namespace

bool crypto_available(std::wstring* problem) {
    const cng& c = the_cng();
    if (problem)
        *problem = c.problem();
    return c.ok();
}

sha256_hash::sha256_hash() {
    cng& c = the_cng();
    BCRYPT_HASH_HANDLE hash = nullptr;
    // No object buffer: CNG keeps the memory itself (Windows 7 and later).
    m_ok =
        c.ok() && c.api.create_hash(c.sha256, &hash, nullptr, 0, nullptr, 0, 0) == k_status_success;
    m_hash = hash;
}

sha256_hash::~sha256_hash() {
    if (m_hash)
        the_cng().api.destroy_hash(static_cast<BCRYPT_HASH_HANDLE>(m_hash));
}

bool sha256_hash::update(const void* data, size_t size) {
    const cng& c = the_cng();
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (m_ok && size > 0) {
        const ULONG n = static_cast<ULONG>(std::min<size_t>(size, 1u << 30));
        m_ok = c.api.hash_data(static_cast<BCRYPT_HASH_HANDLE>(m_hash), const_cast<PUCHAR>(p), n,
                               0) == k_status_success;
        p += n;
        size -= n;
    }
    return m_ok;
}

bool sha256_hash::finish(sha256_digest& digest) {
    if (m_ok)
        m_ok = the_cng().api.finish_hash(static_cast<BCRYPT_HASH_HANDLE>(m_hash), digest.data(),
                                         static_cast<ULONG>(digest.size()), 0) == k_status_success;
    return m_ok;
}

bool sha256_bytes(const void* data, size_t size, sha256_digest& digest) {
    sha256_hash hash;
    return hash.update(data, size) && hash.finish(digest);
}

unique_hfile open_for_hashing(const std::wstring& path) {
    // Wine 8 now and then answers a sharing violation for a file this process has just written
    // and closed, with no handle of it left open (seen in about one signed installation in
    // ten); a few short retries ride over that. A file someone holds open for writing still
    // fails after them.
    for (int tries = 0;; ++tries) {
        unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (file || ::GetLastError() != ERROR_SHARING_VIOLATION || tries == 9)
            return file;
        ::Sleep(10);
    }
}

bool sha256_file(const std::wstring& path, sha256_digest& digest, uint64_t& size, DWORD& error) {
    size = 0;
    error = 0;
    unique_hfile file = open_for_hashing(path);
    if (!file) {
        error = ::GetLastError();
        return false;
    }
    return sha256_handle(file.get(), digest, size, error);
}

bool sha256_handle(HANDLE file, sha256_digest& digest, uint64_t& size, DWORD& error) {
    size = 0;
    error = 0;
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(file, &length)) {
        error = ::GetLastError();
        return false;
    }
    sha256_hash hash;
    // A small file needs no large buffer: a release has many of them.
    std::vector<unsigned char> buffer(static_cast<size_t>(
        std::max<LONGLONG>(1, std::min<LONGLONG>(length.QuadPart, LONGLONG(1) << 20))));
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            error = ::GetLastError();
            return false;
        }
        if (got == 0)
            break;
        if (!hash.update(buffer.data(), got))
            return false;
        size += got;
    }
    return hash.finish(digest);
}

signature_check verify_p256_sha256(const std::string& key, const std::string& message,
                                   const std::string& signature, long* status) {
    if (status)
        *status = k_status_unavailable;
    cng& c = the_cng();
    if (!c.ok())
        return signature_check::unavailable;
    if (key.size() != 64 || signature.size() != 64)
        return signature_check::invalid;
    sha256_digest digest;
    if (!sha256_bytes(message.data(), message.size(), digest))
        return signature_check::unavailable;

    std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + key.size());
    BCRYPT_ECCKEY_BLOB header{};
    header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header.cbKey = 32;
    std::memcpy(blob.data(), &header, sizeof(header));
    std::memcpy(blob.data() + sizeof(header), key.data(), key.size());
    BCRYPT_KEY_HANDLE handle = nullptr;
    NTSTATUS result = c.api.import_key_pair(c.ecdsa_p256, nullptr, BCRYPT_ECCPUBLIC_BLOB, &handle,
                                            blob.data(), static_cast<ULONG>(blob.size()), 0);
    if (result == k_status_success) {
        std::string sig = signature; // the call takes a non-const buffer
        result = c.api.verify_signature(
            handle, nullptr, digest.data(), static_cast<ULONG>(digest.size()),
            reinterpret_cast<PUCHAR>(&sig[0]), static_cast<ULONG>(sig.size()), 0);
        c.api.destroy_key(handle);
    }
    if (status)
        *status = static_cast<long>(result);
    return result == k_status_success ? signature_check::valid : signature_check::invalid;
}
