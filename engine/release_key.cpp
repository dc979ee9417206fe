#include "engine/release_key.h"

#include <cstdint>

#include "build_config.h"
#include "engine/release_statement.h"

namespace {

constexpr bool is_key_text(const char* text, size_t size) {
    if (size != 1 && size != 2 * k_signature_size + 1)
        return false;
    for (size_t i = 0; i + 1 < size; ++i)
        if (!((text[i] >= '0' && text[i] <= '9') || (text[i] >= 'a' && text[i] <= 'f')))
            return false;
    return true;
}

// A key that does not decode must stop the build: at run time it would read as no key, and
// the launcher would install unsigned releases.
static_assert(is_key_text(FENWA_RELEASE_KEY_HEX, sizeof(FENWA_RELEASE_KEY_HEX)),
              "FENWA_RELEASE_KEY_HEX is neither empty nor 128 lower-case hex digits");

// Decimal digits without a leading zero that fit 64 bits, or nothing.
constexpr bool is_floor_text(const char* text, size_t size) {
    if (size > 21 || (size > 2 && text[0] == '0'))
        return false;
    uint64_t value = 0;
    for (size_t i = 0; i + 1 < size; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

// A floor that does not parse would silently be none.
static_assert(is_floor_text(FENWA_RELEASE_FLOOR, sizeof(FENWA_RELEASE_FLOOR)),
              "FENWA_RELEASE_FLOOR is neither empty nor a decimal number below 2^64");

} // namespace

std::string built_in_release_key() {
    std::string key;
    if (!decode_hex(FENWA_RELEASE_KEY_HEX, k_signature_size, key))
        key.clear();
    return key;
}

uint64_t built_in_release_floor() {
    uint64_t value = 0;
    for (const char* c = FENWA_RELEASE_FLOOR; *c; ++c)
        value = value * 10 + static_cast<uint64_t>(*c - '0');
    return value;
}
