// Prints what the launcher reads as a file's FileVersion, one line per path, so that the
// publishing tool's own reader can be held against it.
//   file_version PATH...     each line: "=" followed by the value in UTF-8
#include <windows.h>

#include <cstdio>
#include <string>

#include "util/file_util_win.h"

namespace {

std::string to_utf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n,
                              nullptr, nullptr);
    return out;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 2;
    for (int i = 1; i < argc; ++i) {
        // The marker keeps an empty value visible as a line of its own.
        const std::string line = "=" + to_utf8(get_file_version_string(argv[i], L"FileVersion"));
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    }
    std::fflush(stdout);
    return 0;
}
