#include "engine/release_check_win.h"

#include <algorithm>

#include "product/product_config.h"
#include "engine/release_key.h"
#include "net/request_url.h"
#include "util/crypto_win.h"
#include "util/file_util_win.h"
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
    RequestParam param(g_product.server_host(), server_port(), L"", L"GET", 1);
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
    // The floor stands in for a sequence this PC never stored (or stored below it).
    const uint64_t floor = built_in_release_floor();
    if (out.sequence < floor) {
        problem = format_text(L"%s refused: its sequence %llu is below %llu, the lowest this "
                              L"launcher accepts",
                              param.path.c_str(), static_cast<unsigned long long>(out.sequence),
                              static_cast<unsigned long long>(floor));
        return false;
    }
    return true;
}

std::wstring installed_statement_path(const std::wstring& program_folder) {
    return program_folder + L"\\" + k_installed_statement_name;
}

std::string statement_text(const release_statement& statement) {
    return statement.signed_bytes + encode_signature_line(statement.signature);
}

bool read_installed_statement(const std::wstring& program_folder, const std::wstring& version,
                              release_statement& out, std::wstring& problem) {
    std::string bytes;
    if (!read_file_bytes(installed_statement_path(program_folder), k_max_statement_bytes, bytes)) {
        problem = format_text(L"%s could not be read (error %lu)", k_installed_statement_name,
                              static_cast<unsigned long>(::GetLastError()));
        return false;
    }
    statement_error error;
    long status = 0;
    if (!parse_release_statement(bytes, out, error)) {
        problem =
            std::wstring(k_installed_statement_name) + L" refused: " + statement_error_text(error);
        return false;
    }
    if (verify_p256_sha256(built_in_release_key(), out.signed_bytes, out.signature, &status) !=
        signature_check::valid) {
        problem = format_text(L"%s refused: its signature does not verify with the built-in "
                              L"release key (status 0x%08lX)",
                              k_installed_statement_name, static_cast<unsigned long>(status));
        return false;
    }
    if (out.version != version) {
        problem = std::wstring(k_installed_statement_name) + L" refused: it is for version " +
                  printable_text(out.version) + L", the installed version is " +
                  printable_text(version);
        return false;
    }
    return true;
}

bool store_installed_sequence(const std::wstring& program_folder, const std::wstring& version,
                              uint64_t& sequence, std::wstring& problem) {
    release_statement statement;
    if (!read_installed_statement(program_folder, version, statement, problem))
        return false;
    sequence = std::max(statement.sequence, installed_release_sequence());
    const long code = store_release_sequence(sequence);
    if (code != ERROR_SUCCESS)
        problem = format_text(L"%s could not be stored. error code = %ld", k_sequence_value, code);
    return code == ERROR_SUCCESS;
}

bool find_installed_file(const release_statement& statement, const std::wstring& relative,
                         uint64_t& size, sha256_digest& digest) {
    const std::wstring wanted = to_lower(replace_all(relative, L"\\", L"/"));
    for (const signed_file& f : statement.files) {
        if (to_lower(f.name) == wanted) {
            size = f.size;
            digest = f.digest;
            return true;
        }
    }
    for (const signed_member& m : statement.members) {
        const std::wstring folder = m.archive.substr(0, m.archive.size() - 4); // ".zip"
        if (to_lower(folder + L"/" + m.name) == wanted) {
            size = m.size;
            digest = m.digest;
            return true;
        }
    }
    return false;
}
