#include "launcher/release_check_win.h"

#include "app/product_config.h"
#include "launcher/release_key.h"
#include "net/request_url.h"
#include "util/crypto_win.h"
#include "util/registry_util_win.h"
#include "util/text_util.h"
#include "util/text_util_win.h"

bool has_release_key() {
    return !built_in_release_key().empty();
}

uint64_t installed_release_sequence(std::wstring* note) {
    std::wstring text;
    uint64_t value = 0;
    const LONG code = read_hklm_string(g_product.registry_key(), k_sequence_value, text);
    if (code == ERROR_SUCCESS && !parse_sequence(text, value) && note)
        *note = L"the stored " + std::wstring(k_sequence_value) + L" is no number (" +
                printable_text(text) + L"); counted as 0";
    return code == ERROR_SUCCESS ? value : 0;
}

long store_release_sequence(uint64_t sequence) {
    return write_hklm_string(g_product.registry_key(), k_sequence_value, std::to_wstring(sequence));
}

bool fetch_release_statement(const std::wstring& server_version, release_statement& out,
                             std::wstring& problem) {
    RequestParam param(g_product.server_host(), g_product.server_port, L"", L"GET", 1);
    param.path = g_product.download_path() + L"/" + server_version + L"/" + k_statement_name;
    param.limits.max_text_bytes = k_max_statement_bytes;
    request_url(param);
    if (param.status != 200 || param.text.empty()) {
        problem = format_text(L"%s could not be read (error code = %d. %s)", param.path.c_str(),
                              param.status, param.text.c_str());
        return false;
    }
    // Every text reaches the launcher through the ANSI code page (net/request_url). A
    // statement is UTF-8 whose names that code page holds, so its bytes come back exactly;
    // a text that does not survive the trip cannot verify either.
    const std::string bytes = utf8_encode(param.text);
    statement_error error;
    if (!parse_release_statement(bytes, out, error)) {
        problem = param.path + L" refused: " + statement_error_text(error);
        return false;
    }
    long status = 0;
    switch (verify_p256_sha256(built_in_release_key(), out.signed_bytes, out.signature, &status)) {
    case signature_check::valid:
        break;
    case signature_check::invalid:
        problem = format_text(L"%s refused: its signature does not verify with the built-in "
                              L"release key (status 0x%08lX)",
                              param.path.c_str(), static_cast<unsigned long>(status));
        return false;
    case signature_check::unavailable: {
        std::wstring why;
        crypto_available(&why);
        problem = param.path + L" cannot be checked: " + why;
        return false;
    }
    }
    std::wstring note, why;
    const uint64_t installed = installed_release_sequence(&note);
    if (!statement_fits(out, server_version, installed, why)) {
        problem = param.path + L" refused: " + why;
        return false;
    }
    return true;
}

bool file_matches(const std::wstring& path, const std::wstring& shown, uint64_t size,
                  const sha256_digest& digest, std::wstring& problem) {
    sha256_digest actual{};
    uint64_t actual_size = 0;
    DWORD error = 0;
    if (!sha256_file(path, actual, actual_size, error)) {
        problem = format_text(L"%s could not be hashed (error %lu)", shown.c_str(),
                              static_cast<unsigned long>(error));
        return false;
    }
    if (actual_size == size && actual == digest)
        return true;
    problem = mismatch_text(shown, actual_size, actual, size, digest);
    return false;
}
