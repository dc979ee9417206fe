#pragma once
// A tiny zip writer for tests: every header field can be set or spoiled on purpose, so cases
// read as "an archive like this" instead of opaque byte arrays. Also used by tests/win.
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace ztest {

struct entry {
    std::string name; // raw bytes as stored
    std::string data; // uncompressed content
    uint16_t method = 8;
    uint16_t made_by = 0x0314; // Unix host
    uint32_t external = 0100644u << 16;
    uint16_t flags = 0;
    uint16_t dos_time = (12 << 11) | (34 << 5) | (56 / 2);    // 12:34:56
    uint16_t dos_date = ((2020 - 1980) << 9) | (6 << 5) | 15; // 2020-06-15
    std::string local_extra;
    std::string central_extra;
    bool encrypt = false;
    std::string password; // for encrypt; the reader only tries the empty one
    // Spoilers: values written instead of the true ones.
    bool set_crc = false;
    uint32_t crc = 0;
    bool set_size = false;
    uint32_t size = 0;
    bool raw = false; // `data` is already the stored payload (method and sizes as given)
};

inline void put16(std::string& s, uint32_t v) {
    s.push_back(char(v & 0xFF));
    s.push_back(char((v >> 8) & 0xFF));
}
inline void put32(std::string& s, uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}
inline void set32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s[at + i] = char((v >> (8 * i)) & 0xFF);
}
inline void set16(std::string& s, size_t at, uint32_t v) {
    s[at] = char(v & 0xFF);
    s[at + 1] = char((v >> 8) & 0xFF);
}

inline std::string deflate_raw(const std::string& data, int level = 6) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

inline uint32_t crc_of(const std::string& data) {
    return crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
}

// Traditional PKWARE encryption, written from the application note independently of the reader.
inline std::string encrypt(const std::string& password, uint8_t check, const std::string& data) {
    uint32_t k0 = 305419896u, k1 = 591751049u, k2 = 878082192u;
    auto crc1 = [](uint32_t c, uint8_t b) {
        c ^= b;
        for (int i = 0; i < 8; ++i)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
        return c;
    };
    auto update = [&](uint8_t p) {
        k0 = crc1(k0, p);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = crc1(k2, uint8_t(k1 >> 24));
    };
    for (unsigned char c : password)
        update(c);
    std::string plain = "0123456789A";
    plain.push_back(char(check));
    plain += data;
    std::string out;
    for (unsigned char p : plain) {
        const uint32_t t = (k2 | 2) & 0xFFFF;
        out.push_back(char(p ^ uint8_t((t * (t ^ 1)) >> 8)));
        update(p);
    }
    return out;
}

struct archive {
    std::string bytes;
    std::vector<size_t> local_offsets; // positions in `bytes`
    std::vector<size_t> central_offsets;
    size_t end_offset = 0;
};

// Offsets inside the archive do not count `prefix`: the reader must find it, as with a
// self-extractor stub in front.
inline archive build(const std::vector<entry>& entries, const std::string& prefix = "",
                     const std::string& comment = "") {
    archive a;
    std::string body, central;
    for (const entry& e : entries) {
        std::string payload = e.raw ? e.data : e.method == 8 ? deflate_raw(e.data) : e.data;
        const uint32_t crc = e.set_crc ? e.crc : crc_of(e.data);
        if (e.encrypt) {
            const uint8_t check = (e.flags & 8) ? uint8_t(e.dos_time >> 8) : uint8_t(crc >> 24);
            payload = encrypt(e.password, check, payload);
        }
        const uint16_t flags = uint16_t(e.flags | (e.encrypt ? 1 : 0));
        const uint32_t usize = e.set_size ? e.size : uint32_t(e.data.size());
        const bool descriptor = flags & 8;
        const size_t local = body.size();
        a.local_offsets.push_back(prefix.size() + local);
        put32(body, 0x04034B50);
        put16(body, 20);
        put16(body, flags);
        put16(body, e.method);
        put16(body, e.dos_time);
        put16(body, e.dos_date);
        put32(body, descriptor ? 0 : crc);
        put32(body, descriptor ? 0 : uint32_t(payload.size()));
        put32(body, descriptor ? 0 : usize);
        put16(body, uint32_t(e.name.size()));
        put16(body, uint32_t(e.local_extra.size()));
        body += e.name + e.local_extra + payload;
        if (descriptor) {
            put32(body, 0x08074B50);
            put32(body, crc);
            put32(body, uint32_t(payload.size()));
            put32(body, usize);
        }
        a.central_offsets.push_back(central.size());
        put32(central, 0x02014B50);
        put16(central, e.made_by);
        put16(central, 20);
        put16(central, flags);
        put16(central, e.method);
        put16(central, e.dos_time);
        put16(central, e.dos_date);
        put32(central, crc);
        put32(central, uint32_t(payload.size()));
        put32(central, usize);
        put16(central, uint32_t(e.name.size()));
        put16(central, uint32_t(e.central_extra.size()));
        put16(central, 0); // comment
        put16(central, 0); // disk
        put16(central, 0); // internal attributes
        put32(central, e.external);
        put32(central, uint32_t(local));
        central += e.name + e.central_extra;
    }
    for (size_t& c : a.central_offsets)
        c += prefix.size() + body.size();
    a.bytes = prefix + body + central;
    a.end_offset = a.bytes.size();
    put32(a.bytes, 0x06054B50);
    put16(a.bytes, 0);
    put16(a.bytes, 0);
    put16(a.bytes, uint32_t(entries.size()));
    put16(a.bytes, uint32_t(entries.size()));
    put32(a.bytes, uint32_t(central.size()));
    put32(a.bytes, uint32_t(body.size()));
    put16(a.bytes, uint32_t(comment.size()));
    a.bytes += comment;
    return a;
}

// An extended-timestamp ("UT") extra block; `present` says which of the three times follow.
inline std::string ut_block(uint8_t present, int32_t mtime, int32_t atime = 0, int32_t ctime = 0) {
    std::string data(1, char(present));
    if (present & 1)
        put32(data, uint32_t(mtime));
    if (present & 2)
        put32(data, uint32_t(atime));
    if (present & 4)
        put32(data, uint32_t(ctime));
    std::string block;
    put16(block, 0x5455);
    put16(block, uint32_t(data.size()));
    return block + data;
}

// An extra block: identifier, size, data.
inline std::string extra_block(uint16_t id, const std::string& data) {
    std::string block;
    put16(block, id);
    put16(block, uint32_t(data.size()));
    return block + data;
}

// Info-ZIP's Unicode path block for a name stored as `stored` (CRC-32 of the stored bytes).
inline std::string unicode_path(const std::string& stored, const std::string& utf8,
                                uint8_t version = 1) {
    std::string data(1, char(version));
    put32(data, crc_of(stored));
    return extra_block(0x7075, data + utf8);
}

inline entry file(const std::string& name, const std::string& data, uint16_t method = 8) {
    entry e;
    e.name = name;
    e.data = data;
    e.method = method;
    return e;
}

inline entry folder(const std::string& name) {
    entry e;
    e.name = name;
    e.method = 0;
    e.external = (040755u << 16) | 0x10;
    return e;
}

// Text that compresses, and bytes that do not.
inline std::string text_data(size_t size) {
    std::string s;
    for (size_t i = 0; s.size() < size; ++i)
        s += "line " + std::to_string(i) + " of the launcher's test data\n";
    s.resize(size);
    return s;
}
inline std::string noise_data(size_t size, uint32_t seed = 1) {
    std::string s(size, '\0');
    for (auto& c : s) {
        seed = seed * 1103515245u + 12345u;
        c = char(seed >> 23);
    }
    return s;
}

} // namespace ztest
