#pragma once
// A SHA-256 digest as bytes; the pure code compares and prints them, util/crypto_win makes them.
#include <array>
#include <cstddef>
#include <cstdint>

constexpr size_t k_sha256_size = 32;
using sha256_digest = std::array<uint8_t, k_sha256_size>;
