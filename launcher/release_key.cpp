#include "launcher/release_key.h"

#include "build_config.h"
#include "launcher/release_statement.h"

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

} // namespace

std::string built_in_release_key() {
    std::string key;
    if (!decode_hex(FENWA_RELEASE_KEY_HEX, k_signature_size, key))
        key.clear();
    return key;
}
