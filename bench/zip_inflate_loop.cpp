// zip_inflate_loop DEST ARCHIVE...: the plainest extraction the fixed 16 KiB buffers allow,
// as a ceiling to time the reader against. Positioned reads, raw inflate, write(); no
// checks, no CRC, no times. Only for the benchmark's own well-formed archives.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr size_t k_buffer = 16384;
unsigned char g_in[k_buffer];
unsigned char g_out[k_buffer];

uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const unsigned char* p) {
    return uint16_t(p[0] | p[1] << 8);
}

bool make_parents(const std::string& path, std::string& last) {
    const std::string folder = path.substr(0, path.rfind('/'));
    if (folder == last)
        return true;
    for (size_t i = 1; i <= folder.size(); ++i)
        if (i == folder.size() || folder[i] == '/')
            if (::mkdir(folder.substr(0, i).c_str(), 0755) != 0 && errno != EEXIST)
                return false;
    last = folder;
    return true;
}

bool write_all(int fd, const unsigned char* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w <= 0)
            return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

bool extract(const std::string& dest, const char* path, z_stream& z, std::string& last) {
    const int fd = ::open(path, O_RDONLY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size < 22)
        return false;
    unsigned char end[22];
    if (::pread(fd, end, 22, st.st_size - 22) != 22 || le32(end) != 0x06054B50)
        return false;
    const unsigned count = le16(end + 10);
    off_t cd = le32(end + 16);
    bool ok = true;
    for (unsigned i = 0; i < count && ok; ++i) {
        unsigned char c[46];
        if (::pread(fd, c, 46, cd) != 46)
            return false;
        const uint16_t method = le16(c + 10);
        uint32_t left = le32(c + 20);
        const uint16_t name_length = le16(c + 28);
        std::string name(name_length, '\0');
        if (::pread(fd, &name[0], name_length, cd + 46) != name_length)
            return false;
        const off_t local = le32(c + 42);
        cd += 46 + name_length + le16(c + 30) + le16(c + 32);
        unsigned char l[30];
        if (::pread(fd, l, 30, local) != 30)
            return false;
        off_t at = local + 30 + le16(l + 26) + le16(l + 28);
        const std::string target = dest + "/" + name;
        if (!name.empty() && name.back() == '/') {
            ok = make_parents(target, last);
            continue;
        }
        const int out = make_parents(target, last)
                            ? ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)
                            : -1;
        if (out < 0)
            return false;
        if (method == 0) {
            while (left > 0 && ok) {
                const size_t n = left < k_buffer ? left : k_buffer;
                ok = ::pread(fd, g_out, n, at) == ssize_t(n) && write_all(out, g_out, n);
                at += off_t(n);
                left -= uint32_t(n);
            }
        } else {
            inflateReset(&z);
            z.avail_in = 0;
            int r = Z_OK;
            while (r == Z_OK && ok) {
                if (z.avail_in == 0 && left > 0) {
                    const size_t n = left < k_buffer ? left : k_buffer;
                    ok = ::pread(fd, g_in, n, at) == ssize_t(n);
                    at += off_t(n);
                    left -= uint32_t(n);
                    z.next_in = g_in;
                    z.avail_in = uInt(n);
                }
                z.next_out = g_out;
                z.avail_out = k_buffer;
                r = inflate(&z, Z_NO_FLUSH);
                ok = ok && (r == Z_OK || r == Z_STREAM_END) &&
                     write_all(out, g_out, k_buffer - z.avail_out);
            }
        }
        ::close(out);
    }
    ::close(fd);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: zip_inflate_loop DEST ARCHIVE...\n");
        return 2;
    }
    z_stream z{};
    inflateInit2(&z, -MAX_WBITS);
    std::string last;
    bool ok = true;
    for (int i = 2; i < argc; ++i)
        ok = extract(argv[1], argv[i], z, last) && ok;
    inflateEnd(&z);
    return ok ? 0 : 1;
}
