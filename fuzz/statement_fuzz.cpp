// libFuzzer target over the release statement's parser: any text it accepts is the one
// canonical text of what it parsed (so a signature over it can mean only one thing), and
// the launcher's rules over a parsed statement never read outside it.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/release_statement.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    release_statement s;
    statement_error error;
    if (!parse_release_statement(text, s, error)) {
        if (error.fault == statement_fault::none || statement_error_text(error).empty())
            abort();
        return 0;
    }
    if (s.signature.size() != k_signature_size || s.files.empty())
        abort();
    if (encode_release_statement(s) != s.signed_bytes ||
        s.signed_bytes + encode_signature_line(s.signature) != text)
        abort();

    // The statement's own files as a file list always match it.
    std::deque<FileInfo> entries;
    for (const signed_file& f : s.files)
        entries.push_back({f.name, static_cast<int64_t>(f.size), L""});
    std::vector<size_t> index;
    std::wstring problem;
    if (!match_filelist(s, entries, index, problem))
        abort();
    for (size_t i = 0; i < index.size(); ++i)
        if (index[i] != i)
            abort();
    for (const signed_member& m : s.members)
        if (members_of(s, m.archive).empty())
            abort();
    statement_fits(s, s.version, s.sequence, problem);
    return 0;
}
