// zipx DEST ARCHIVE...: extracts every entry of each archive below DEST with the launcher's
// own reader, so that it can be timed beside other extractors. Exit status 1 on any failure.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "zip/zip_reader.h"

namespace {

class fd_source : public zip_source {
public:
    fd_source(int fd, uint64_t size) : m_fd(fd), m_size(size) {}
    uint64_t size() const override { return m_size; }
    size_t read_at(uint64_t offset, void* buffer, size_t count) override {
        size_t done = 0;
        while (done < count) {
            const ssize_t n = ::pread(m_fd, static_cast<char*>(buffer) + done, count - done,
                                      off_t(offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += size_t(n);
        }
        return done;
    }

private:
    int m_fd;
    uint64_t m_size;
};

class fd_sink : public zip_sink {
public:
    explicit fd_sink(int fd) : m_fd(fd) {}
    bool write(const void* data, size_t count) override {
        const char* p = static_cast<const char*>(data);
        while (count > 0) {
            const ssize_t n = ::write(m_fd, p, count);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            p += n;
            count -= size_t(n);
        }
        return true;
    }

private:
    int m_fd;
};

constexpr int64_t k_epoch = 116444736000000000LL;
constexpr int64_t k_per_second = 10000000LL;

// Zone offsets change on whole hours, and an archive's times cluster: remember the last hour.
int64_t local_to_utc(int64_t local_time) {
    constexpr int64_t k_hour = 3600 * k_per_second;
    static int64_t last_hour = -1, last_offset = 0;
    const int64_t hour = local_time / k_hour;
    if (hour != last_hour) {
        const time_t wall = time_t((hour * k_hour - k_epoch) / k_per_second);
        tm fields{};
        if (!gmtime_r(&wall, &fields))
            return local_time;
        fields.tm_isdst = -1;
        const time_t utc = mktime(&fields);
        if (utc == time_t(-1))
            return local_time;
        last_hour = hour;
        last_offset = (int64_t(utc) - int64_t(wall)) * k_per_second;
    }
    return local_time + last_offset;
}

std::string to_utf8(const std::wstring& text) {
    std::string out;
    for (wchar_t wc : text) {
        const uint32_t c = uint32_t(wc);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// mkdir -p, remembering the last folder made: entries of one folder come in runs.
bool make_folders(const std::string& path, std::string& last_made) {
    if (path == last_made)
        return true;
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/')
            continue;
        const std::string prefix = path.substr(0, i);
        if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    last_made = path;
    return true;
}

timespec to_timespec(int64_t filetime) {
    const int64_t since_epoch = filetime - k_epoch;
    timespec ts{};
    ts.tv_sec = time_t(since_epoch / k_per_second);
    ts.tv_nsec = long((since_epoch % k_per_second) * 100);
    if (ts.tv_nsec < 0) {
        ts.tv_nsec += 1000000000L;
        --ts.tv_sec;
    }
    return ts;
}

bool extract_archive(CZipReader& reader, const std::string& dest, const char* path,
                     std::string& last_made) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "zipx: cannot open %s\n", path);
        return false;
    }
    struct stat st {};
    ::fstat(fd, &st);
    fd_source source(fd, uint64_t(st.st_size));
    bool ok = true;
    if (const uint32_t code = reader.open(&source)) {
        const CZipReader::failure_info& why = reader.last_failure();
        std::string detail;
        if (why.index >= 0)
            detail = ": entry " + std::to_string(why.index) + " (" + to_utf8(why.name) + ")";
        if (!why.reason.empty())
            detail += ": " + why.reason;
        std::fprintf(stderr, "zipx: %s: not a readable archive (0x%x)%s\n", path, code,
                     detail.c_str());
        ::close(fd);
        return false;
    }
    for (int i = 0; i < reader.entry_count(); ++i) {
        zip_entry_info info;
        uint32_t code = reader.describe(i, info);
        // The name is shown even for a refused entry; only a safe one names a file.
        const std::string shown = to_utf8(code == ZR_OK ? info.name : reader.last_failure().name);
        if (code == ZR_OK && !is_safe_entry_name(info.name))
            code = ZR_OPEN;
        std::string name;
        if (code == ZR_OK) {
            name = shown;
            for (char& c : name)
                if (c == '\\')
                    c = '/';
        }
        const bool folder =
            !name.empty() && (name.back() == '/' || (info.attributes & k_attr_directory));
        const std::string target = dest + "/" + name;
        if (code == ZR_OK && folder) {
            if (!make_folders(target.back() == '/' ? target.substr(0, target.size() - 1) : target,
                              last_made))
                code = ZR_OPEN;
        } else if (code == ZR_OK) {
            const size_t cut = target.rfind('/');
            const int out = make_folders(target.substr(0, cut), last_made)
                                ? ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                                         (info.attributes & k_attr_readonly) ? 0444 : 0644)
                                : -1;
            if (out < 0) {
                code = ZR_OPEN;
            } else {
                fd_sink sink(out);
                code = reader.extract(i, sink);
                const timespec times[2] = {to_timespec(info.access_time),
                                           to_timespec(info.write_time)};
                ::futimens(out, times);
                if (::close(out) != 0 && code == ZR_OK)
                    code = ZR_WRITE;
                if (code != ZR_OK)
                    ::unlink(target.c_str());
            }
        }
        if (code != ZR_OK) {
            std::fprintf(stderr, "zipx: %s: entry %d (%s) failed, zr code 0x%x\n", path, i,
                         shown.c_str(), code);
            ok = false;
        }
    }
    reader.close();
    ::close(fd);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: zipx DEST ARCHIVE...\n");
        return 2;
    }
    const std::string dest = argv[1];
    std::string last_made;
    if (!make_folders(dest, last_made))
        return 1;
    // One reader for all archives: its buffers and inflate state are reused.
    zip_platform platform;
    platform.local_to_utc = local_to_utc;
    CZipReader reader(platform);
    bool ok = true;
    for (int i = 2; i < argc; ++i)
        ok = extract_archive(reader, dest, argv[i], last_made) && ok;
    return ok ? 0 : 1;
}
