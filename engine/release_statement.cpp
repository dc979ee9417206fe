#include "engine/release_statement.h"

#include <climits>
#include <map>
#include <set>
#include <utility>

#include "util/text_util.h"

namespace {

const char k_header[] = "fenwa-release 1";
constexpr size_t k_max_name = 1024; // far past any path Windows can open
const char k_hex[] = "0123456789abcdef";

// One record a line: the keyword, one blank, the fields.
bool split_record(const std::string& line, std::string& keyword, std::string& rest) {
    const size_t blank = line.find(' ');
    if (blank == std::string::npos)
        return false;
    keyword = line.substr(0, blank);
    rest = line.substr(blank + 1);
    return true;
}

std::vector<std::string> split_fields(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t bar = text.find('|', start);
        fields.push_back(text.substr(start, bar - start));
        if (bar == std::string::npos)
            return fields;
        start = bar + 1;
    }
}

// "0", or digits without a leading zero, at most INT64_MAX: the file list's sizes are signed.
bool parse_number(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 19 || (text[0] == '0' && text.size() > 1))
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value <= static_cast<uint64_t>(INT64_MAX);
}

bool parse_digest(const std::string& text, sha256_digest& digest) {
    std::string raw;
    if (!decode_hex(text, k_sha256_size, raw))
        return false;
    for (size_t i = 0; i < k_sha256_size; ++i)
        digest[i] = static_cast<uint8_t>(raw[i]);
    return true;
}

// The file list's and the journal's own name rule.
bool parse_name(const std::string& text, std::wstring& name) {
    name = utf8_decode(text);
    return name.size() <= k_max_name && is_safe_relative_name(name);
}

bool ends_with_zip(const std::wstring& name) {
    return name.size() >= 4 && name.compare(name.size() - 4, 4, L".zip") == 0;
}

// size|sha256|archive size|archive sha256
bool parse_sizes_and_digests(const std::vector<std::string>& f, size_t at, signed_file& out) {
    return parse_number(f[at], out.size) && parse_digest(f[at + 1], out.digest) &&
           parse_number(f[at + 2], out.archive_size) && parse_digest(f[at + 3], out.archive_digest);
}

std::string hex_of(const uint8_t* data, size_t size) {
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += k_hex[data[i] >> 4];
        out += k_hex[data[i] & 0xF];
    }
    return out;
}

std::string digest_hex(const sha256_digest& d) {
    return hex_of(d.data(), d.size());
}

std::string sizes_and_digests(const signed_file& f) {
    return std::to_string(f.size) + "|" + digest_hex(f.digest) + "|" +
           std::to_string(f.archive_size) + "|" + digest_hex(f.archive_digest);
}

// The records in the order they must come.
enum class stage { header, version, sequence, files, members, launcher, signature, end };

} // namespace

bool decode_hex(const std::string& text, size_t size, std::string& out) {
    if (text.size() != size * 2)
        return false;
    out.assign(size, '\0');
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else
            return false;
        out[i / 2] = static_cast<char>((out[i / 2] << 4) | v);
    }
    return true;
}

std::wstring sha256_hex(const sha256_digest& digest) {
    const std::string hex = digest_hex(digest);
    return std::wstring(hex.begin(), hex.end());
}

bool parse_release_statement(const std::string& bytes, release_statement& out,
                             statement_error& error) {
    out = release_statement();
    error = statement_error();
    auto fail = [&error](statement_fault fault, size_t line) {
        error.fault = fault;
        error.line = line;
        return false;
    };
    if (bytes.size() > k_max_statement_bytes)
        return fail(statement_fault::too_large, 0);
    if (bytes.empty() || bytes.back() != '\n' || utf8_encode(utf8_decode(bytes)) != bytes)
        return fail(statement_fault::not_text, 0);

    std::set<std::wstring> names;
    std::set<std::pair<std::wstring, std::wstring>> members;
    std::set<std::wstring> archives; // listed .zip files
    stage at = stage::header;
    size_t number = 0;
    for (size_t start = 0; start < bytes.size();) {
        const size_t end = bytes.find('\n', start);
        const std::string line = bytes.substr(start, end - start);
        const size_t line_start = start;
        start = end + 1;
        ++number;
        for (unsigned char c : line)
            if (c < 0x20 || c == 0x7F)
                return fail(statement_fault::not_text, number);
        if (at == stage::header) {
            if (line != k_header)
                return fail(statement_fault::header, number);
            at = stage::version;
            continue;
        }
        if (at == stage::end)
            return fail(statement_fault::unexpected, number);

        std::string keyword, rest;
        if (!split_record(line, keyword, rest))
            return fail(statement_fault::unexpected, number);
        if (keyword == "version" && at == stage::version) {
            out.version = utf8_decode(rest);
            if (!is_safe_folder_name(out.version))
                return fail(statement_fault::bad_field, number);
            at = stage::sequence;
        } else if (keyword == "sequence" && at == stage::sequence) {
            if (!parse_number(rest, out.sequence))
                return fail(statement_fault::bad_field, number);
            at = stage::files;
        } else if (keyword == "file" && at == stage::files) {
            const std::vector<std::string> f = split_fields(rest);
            signed_file file;
            if (f.size() != 5 || !parse_name(f[0], file.name) ||
                !parse_sizes_and_digests(f, 1, file))
                return fail(statement_fault::bad_field, number);
            if (!names.insert(file.name).second)
                return fail(statement_fault::duplicate, number);
            // A listed .zip is sent as it is: it is its own archive.
            if (ends_with_zip(file.name)) {
                if (file.size != file.archive_size || file.digest != file.archive_digest)
                    return fail(statement_fault::archive_mismatch, number);
                archives.insert(file.name);
            }
            out.files.push_back(file);
        } else if (keyword == "member" && (at == stage::files || at == stage::members)) {
            if (out.files.empty())
                return fail(statement_fault::no_files, number);
            const std::vector<std::string> f = split_fields(rest);
            signed_member member;
            if (f.size() != 4 || !parse_name(f[0], member.archive) ||
                !parse_name(f[1], member.name) || !parse_number(f[2], member.size) ||
                !parse_digest(f[3], member.digest))
                return fail(statement_fault::bad_field, number);
            if (archives.count(member.archive) == 0)
                return fail(statement_fault::archive_mismatch, number);
            if (!members.insert({member.archive, member.name}).second)
                return fail(statement_fault::duplicate, number);
            out.members.push_back(member);
            at = stage::members;
        } else if (keyword == "launcher" && (at == stage::files || at == stage::members)) {
            if (out.files.empty())
                return fail(statement_fault::no_files, number);
            const std::vector<std::string> f = split_fields(rest);
            if (f.size() != 4 || !parse_sizes_and_digests(f, 0, out.launcher))
                return fail(statement_fault::bad_field, number);
            out.has_launcher = true;
            at = stage::launcher;
        } else if (keyword == "signature" && at >= stage::files) {
            if (out.files.empty())
                return fail(statement_fault::no_files, number);
            if (!decode_hex(rest, k_signature_size, out.signature))
                return fail(statement_fault::bad_field, number);
            out.signed_bytes = bytes.substr(0, line_start);
            at = stage::end;
        } else {
            return fail(statement_fault::unexpected, number);
        }
    }
    if (at == stage::end)
        return true;
    if (at < stage::files)
        return fail(statement_fault::unexpected, 0);
    return fail(out.files.empty() ? statement_fault::no_files : statement_fault::no_signature, 0);
}

std::string encode_release_statement(const release_statement& s) {
    std::string out = std::string(k_header) + "\n";
    out += "version " + utf8_encode(s.version) + "\n";
    out += "sequence " + std::to_string(s.sequence) + "\n";
    for (const signed_file& f : s.files)
        out += "file " + utf8_encode(f.name) + "|" + sizes_and_digests(f) + "\n";
    for (const signed_member& m : s.members)
        out += "member " + utf8_encode(m.archive) + "|" + utf8_encode(m.name) + "|" +
               std::to_string(m.size) + "|" + digest_hex(m.digest) + "\n";
    if (s.has_launcher)
        out += "launcher " + sizes_and_digests(s.launcher) + "\n";
    return out;
}

std::string encode_signature_line(const std::string& signature) {
    return "signature " +
           hex_of(reinterpret_cast<const uint8_t*>(signature.data()), signature.size()) + "\n";
}

std::wstring statement_error_text(const statement_error& error) {
    const wchar_t* what = L"no fault";
    switch (error.fault) {
    case statement_fault::none:
        break;
    case statement_fault::too_large:
        what = L"larger than 4 MiB";
        break;
    case statement_fault::not_text:
        what = L"not plain UTF-8 text with \"\\n\" line ends";
        break;
    case statement_fault::header:
        what = L"not a release statement (no \"fenwa-release 1\")";
        break;
    case statement_fault::unexpected:
        what = L"an unknown record or one out of order";
        break;
    case statement_fault::bad_field:
        what = L"a malformed field";
        break;
    case statement_fault::duplicate:
        what = L"a name listed twice";
        break;
    case statement_fault::archive_mismatch:
        what = L"an archive that disagrees with its listing";
        break;
    case statement_fault::no_files:
        what = L"no file listed";
        break;
    case statement_fault::no_signature:
        what = L"no signature";
        break;
    }
    if (error.line == 0)
        return what;
    return L"line " + std::to_wstring(error.line) + L": " + what;
}

bool statement_fits(const release_statement& statement, const std::wstring& server_version,
                    uint64_t installed_sequence, std::wstring& problem) {
    if (statement.version != server_version) {
        problem = L"it is for version " + statement.version + L", the version page names " +
                  server_version;
        return false;
    }
    if (statement.sequence < installed_sequence) {
        problem = L"its sequence " + std::to_wstring(statement.sequence) +
                  L" is older than the one installed on this PC, " +
                  std::to_wstring(installed_sequence);
        return false;
    }
    return true;
}

bool match_filelist(const release_statement& statement, const std::deque<FileInfo>& entries,
                    std::vector<size_t>& signed_index, std::wstring& problem) {
    signed_index.assign(entries.size(), 0);
    std::map<std::wstring, size_t> by_name;
    for (size_t i = 0; i < statement.files.size(); ++i)
        by_name[statement.files[i].name] = i;
    std::vector<bool> used(statement.files.size(), false);
    for (size_t i = 0; i < entries.size(); ++i) {
        const FileInfo& e = entries[i];
        const auto found = by_name.find(e.name);
        if (found == by_name.end()) {
            problem = L"the file list names " + e.name + L", which is not signed";
            return false;
        }
        const signed_file& f = statement.files[found->second];
        if (used[found->second]) {
            problem = L"the file list names " + e.name + L" twice";
            return false;
        }
        if (e.size < 0 || static_cast<uint64_t>(e.size) != f.size) {
            problem = L"the file list gives " + e.name + L" " + std::to_wstring(e.size) +
                      L" bytes, the statement " + std::to_wstring(f.size);
            return false;
        }
        used[found->second] = true;
        signed_index[i] = found->second;
    }
    for (size_t i = 0; i < used.size(); ++i)
        if (!used[i]) {
            problem = L"the file list leaves out the signed file " + statement.files[i].name;
            return false;
        }
    return true;
}

std::vector<const signed_member*> members_of(const release_statement& statement,
                                             const std::wstring& archive) {
    std::vector<const signed_member*> out;
    for (const signed_member& m : statement.members)
        if (m.archive == archive)
            out.push_back(&m);
    return out;
}

std::wstring mismatch_text(const std::wstring& what, uint64_t size, const sha256_digest& digest,
                           uint64_t signed_size, const sha256_digest& signed_digest) {
    return what + L" does not match the signed release: " + std::to_wstring(size) +
           L" bytes, SHA-256 " + sha256_hex(digest) + L"; signed: " + std::to_wstring(signed_size) +
           L" bytes, SHA-256 " + sha256_hex(signed_digest);
}

bool parse_sequence(const std::wstring& text, uint64_t& value) {
    value = 0;
    std::string narrow;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        narrow += static_cast<char>(c);
    }
    // Leading zeros are harmless in a stored value.
    while (narrow.size() > 1 && narrow[0] == '0')
        narrow.erase(0, 1);
    return parse_number(narrow, value);
}
