#pragma once
// The signed statement of a release, "<version>/release.sig.txt" beside the file list: what
// a launcher built with a release key installs, and nothing else. UTF-8, one record a line,
// every line ended by "\n" alone, fields in this order and nothing else:
//
//   fenwa-release 1
//   version <server version>
//   sequence <n>                                   grows from one publication to the next
//   file <name>|<size>|<sha256>|<archive size>|<archive sha256>      one per listed file
//   member <archive name>|<member name>|<size>|<sha256>   one per file inside a listed .zip
//   launcher <size>|<sha256>|<archive size>|<archive sha256>   FenwaLauncher.exe, at most once
//   signature <r and s: 128 hex digits>
//
// Numbers are decimal without leading zeros, hashes lower-case hex. The signature is ECDSA
// P-256 over the SHA-256 of every byte before the "signature" line. One release has exactly
// one text, so a parser and an encoder agree byte for byte.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "engine/pipeline_logic.h"
#include "util/digest.h"

constexpr size_t k_signature_size = 64; // r and s, 32 bytes each, big-endian
constexpr size_t k_max_statement_bytes = size_t(4) << 20;

struct signed_file {
    std::wstring name; // as in the file list, "/" between folders
    uint64_t size = 0;
    sha256_digest digest{}; // of the file as installed
    uint64_t archive_size = 0;
    sha256_digest archive_digest{}; // of what the server sends; a listed .zip is its own archive
};

struct signed_member {
    std::wstring archive; // a listed file whose name ends in ".zip"
    std::wstring name;    // below the folder it is unpacked into, "/" between folders
    uint64_t size = 0;
    sha256_digest digest{};
};

struct release_statement {
    std::wstring version;
    uint64_t sequence = 0;
    std::vector<signed_file> files;
    std::vector<signed_member> members;
    bool has_launcher = false;
    signed_file launcher;     // name unused
    std::string signed_bytes; // what the signature covers
    std::string signature;    // raw r and s
};

enum class statement_fault {
    none,
    too_large,        // more than k_max_statement_bytes
    not_text,         // not UTF-8, a control character or "\r", no final line end
    header,           // the first line is not "fenwa-release 1"
    unexpected,       // an unknown record, or one out of its order
    bad_field,        // a number, hash, name or version that is not in its one form
    duplicate,        // a name (or member of one archive) listed twice
    archive_mismatch, // a .zip whose archive fields differ, or a member of no listed .zip
    no_files,
    no_signature,
};

struct statement_error {
    statement_fault fault = statement_fault::none;
    size_t line = 0; // 1-based; 0 when the text as a whole is at fault
};

// Fills `out` from the text when it is one well-formed statement; the signature is only
// decoded here, never checked.
bool parse_release_statement(const std::string& bytes, release_statement& out,
                             statement_error& error);
// The canonical text of everything but the signature (what a publisher signs).
std::string encode_release_statement(const release_statement& statement);
// The closing line for a raw signature.
std::string encode_signature_line(const std::string& signature);
std::wstring statement_error_text(const statement_error& error);

std::wstring sha256_hex(const sha256_digest& digest);
// Exactly 2 * size lower-case hex digits.
bool decode_hex(const std::string& text, size_t size, std::string& out);

// ---- what the launcher takes from a verified statement

// The statement must be for the version the version page names, and not older than what this
// PC installed last. False with the reason otherwise.
bool statement_fits(const release_statement& statement, const std::wstring& server_version,
                    uint64_t installed_sequence, std::wstring& problem);

// Pairs every file-list entry with its signed file: the same names, each once, the same
// sizes. `signed_index[i]` receives the statement's index of entry i.
bool match_filelist(const release_statement& statement, const std::deque<FileInfo>& entries,
                    std::vector<size_t>& signed_index, std::wstring& problem);

// The members of one listed archive.
std::vector<const signed_member*> members_of(const release_statement& statement,
                                             const std::wstring& archive);

// "<what> does not match the signed release: <size> bytes, SHA-256 <hex>; signed: ..."
std::wstring mismatch_text(const std::wstring& what, uint64_t size, const sha256_digest& digest,
                           uint64_t signed_size, const sha256_digest& signed_digest);

// The stored "ReleaseSequence": decimal digits only; anything else counts as none (0).
bool parse_sequence(const std::wstring& text, uint64_t& value);
