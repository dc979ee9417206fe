#include <gtest/gtest.h>

#include <string>

#include "engine/release_check_win.h"
#include "engine/release_statement.h"
#include "util/crypto_win.h"
#include "util/hash_worker_win.h"
#include "util/unique_handle.h"

namespace {

std::string bytes(const char* hex) {
    std::string out;
    decode_hex(hex, std::string(hex).size() / 2, out);
    return out;
}

std::wstring hex(const sha256_digest& d) {
    return sha256_hex(d);
}

// Made once with Python's cryptography from a key that was then thrown away.
const std::string k_key = bytes("2bb68cd7ce151609162994cc96f657595b98bf645d7c7b37a7a7049b46c2555e"
                                "400a4998e797f1ad3aada00721b0350d6840b3476b5714af8f1151f0270e0125");
const std::string k_message = "fenwa-release 1\nversion 1.0\nsequence 1\n";
const std::string k_signature =
    bytes("42af706cc879988ede10569abd3db9b82e09e85117eefa2624443fdc9647b35a"
          "6edcee0994034eefa9ad1381fffc442062e33f6147e8a47702b55a42dcfbc75b");
const std::string k_der =
    bytes("3044022042af706cc879988ede10569abd3db9b82e09e85117eefa2624443fdc9647b35a"
          "02206edcee0994034eefa9ad1381fffc442062e33f6147e8a47702b55a42dcfbc75b");

std::wstring temp_file(const wchar_t* name, const std::string& data) {
    wchar_t base[MAX_PATH];
    ::GetTempPathW(MAX_PATH, base);
    const std::wstring path = std::wstring(base) + name;
    unique_hfile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD n = 0;
    ::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &n, nullptr);
    return path;
}

} // namespace

TEST(Crypto, Sha256KnownAnswers) {
    std::wstring problem;
    ASSERT_TRUE(crypto_available(&problem)) << problem.c_str();
    sha256_digest d;
    ASSERT_TRUE(sha256_bytes("", 0, d));
    EXPECT_EQ(L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", hex(d));
    ASSERT_TRUE(sha256_bytes("abc", 3, d));
    EXPECT_EQ(L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", hex(d));

    const std::string million(1000000, 'a');
    const wchar_t* million_hex =
        L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
    const std::wstring path = temp_file(L"fenwa_sha_million.bin", million);
    uint64_t size = 0;
    DWORD error = 1;
    ASSERT_TRUE(sha256_file(path, d, size, error));
    EXPECT_EQ(million_hex, hex(d));
    EXPECT_EQ(1000000u, size);
    EXPECT_EQ(0u, error);
    EXPECT_FALSE(sha256_file(path + L".missing", d, size, error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), error);

    // The worker: a stream fed in download-sized pieces past several blocks, a small stream
    // hashed inline, and files in the order given.
    hash_worker worker;
    const std::string big = million + million + million + std::string(123, 'b');
    sha256_digest expected;
    ASSERT_TRUE(sha256_bytes(big.data(), big.size(), expected));
    worker.begin_stream();
    for (size_t at = 0; at < big.size(); at += 4096)
        worker.feed(big.data() + at, std::min<size_t>(4096, big.size() - at));
    worker.add_file(path);
    ASSERT_TRUE(worker.end_stream(d, size));
    EXPECT_EQ(hex(expected), hex(d));
    EXPECT_EQ(big.size(), size);
    worker.begin_stream();
    worker.feed("abc", 3);
    ASSERT_TRUE(worker.end_stream(d, size));
    EXPECT_EQ(L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", hex(d));
    worker.add_file(path + L".missing");
    const auto files = worker.take_files();
    ASSERT_EQ(2u, files.size());
    EXPECT_TRUE(files[0].ok);
    EXPECT_EQ(million_hex, hex(files[0].digest));
    EXPECT_FALSE(files[1].ok);
    EXPECT_TRUE(worker.take_files().empty());
    ::DeleteFileW(path.c_str());
}

// What is checked stays as checked while held: no writer, no rename, no delete; a file that
// is open for writing (the flusher's way) is not hashed at all.
TEST(Crypto, AHeldFileIsTheOneChecked) {
    const std::string data = "host bytes";
    const std::wstring path = temp_file(L"fenwa_held.bin", data);
    const std::wstring moved = path + L".moved";
    sha256_digest d;
    ASSERT_TRUE(sha256_bytes(data.data(), data.size(), d));
    std::wstring problem;
    unique_hfile held;
    ASSERT_TRUE(hold_matching_file(path, L"held.bin", data.size(), d, held, problem)) << problem;
    ASSERT_TRUE(held);
    unique_hfile reader(::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(reader);
    reader.reset();
    unique_hfile writer(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), ::GetLastError());
    EXPECT_FALSE(::MoveFileW(path.c_str(), moved.c_str()));
    EXPECT_FALSE(::DeleteFileW(path.c_str()));
    held.reset();
    ASSERT_TRUE(::MoveFileW(path.c_str(), moved.c_str()));
    ASSERT_TRUE(::MoveFileW(moved.c_str(), path.c_str()));

    // Another size or digest: refused, nothing held, both sides named.
    EXPECT_FALSE(hold_matching_file(path, L"held.bin", data.size() + 1, d, held, problem));
    EXPECT_FALSE(held);
    EXPECT_EQ(0u, problem.find(L"held.bin does not match the signed release: 10 bytes")) << problem;

    writer.reset(::CreateFileW(path.c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    EXPECT_FALSE(hold_matching_file(path, L"held.bin", data.size(), d, held, problem));
    EXPECT_EQ(L"held.bin could not be hashed (error 32)", problem);
    writer.reset();
    ::DeleteFileW(path.c_str());
}

TEST(Crypto, P256SignatureKnownAnswerAndRefusals) {
    long status = 0;
    EXPECT_EQ(signature_check::valid, verify_p256_sha256(k_key, k_message, k_signature, &status));
    EXPECT_EQ(0, status);

    std::string changed = k_message;
    changed[20] ^= 1;
    EXPECT_EQ(signature_check::invalid, verify_p256_sha256(k_key, changed, k_signature, &status));
    EXPECT_EQ(static_cast<long>(0xC000A000), status) << "STATUS_INVALID_SIGNATURE";
    std::string flipped = k_signature;
    flipped[63] ^= 1;
    EXPECT_EQ(signature_check::invalid, verify_p256_sha256(k_key, k_message, flipped));

    // Only exactly 64 bytes: Wine's own check takes halves and would accept the longer ones.
    EXPECT_EQ(signature_check::invalid,
              verify_p256_sha256(k_key, k_message, k_signature.substr(0, 63)));
    EXPECT_EQ(signature_check::invalid,
              verify_p256_sha256(k_key, k_message, k_signature + std::string(1, '\0')));
    EXPECT_EQ(signature_check::invalid, verify_p256_sha256(k_key, k_message, k_der));
    EXPECT_EQ(signature_check::invalid,
              verify_p256_sha256(k_key.substr(1), k_message, k_signature));

    // A point off the curve imports without complaint; nothing verifies with it.
    std::string off_curve = k_key;
    off_curve[63] ^= 1;
    EXPECT_EQ(signature_check::invalid, verify_p256_sha256(off_curve, k_message, k_signature));
    // Another key does not verify the first one's signature.
    std::string other = k_key;
    std::swap(other[0], other[1]);
    EXPECT_EQ(signature_check::invalid, verify_p256_sha256(other, k_message, k_signature));
}
