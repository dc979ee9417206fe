#include "zip/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "util/text_util.h"
#include "zip/zip_crc.h"

namespace {

constexpr uint32_t k_end_record_signature = 0x06054B50;
constexpr uint32_t k_central_signature = 0x02014B50;
constexpr uint32_t k_local_signature = 0x04034B50;
constexpr size_t k_end_record_size = 22;
constexpr size_t k_central_size = 46;
constexpr size_t k_local_size = 30;
// The end record can sit before a comment of up to 65535 bytes.
constexpr uint64_t k_end_search_span = 65535 + k_end_record_size;
constexpr uint16_t k_flag_encrypted = 0x1;
constexpr uint16_t k_flag_descriptor = 0x8;
constexpr uint16_t k_flag_utf8 = 0x800;
constexpr uint16_t k_method_stored = 0;
constexpr uint16_t k_method_deflated = 8;
constexpr uint16_t k_extended_timestamp = 0x5455; // "UT"
// APPNOTE 4.3.15: the zip64 end of central directory locator, 20 bytes, right before the
// end record.
constexpr uint32_t k_zip64_locator_signature = 0x07064B50;
constexpr size_t k_zip64_locator_size = 20;
// APPNOTE 4.5.3: the zip64 extended information block; 4.4.8, 4.4.9, 4.4.16: a size or
// offset of 0xFFFFFFFF (a disk number of 0xFFFF) says the value is in that block.
constexpr uint16_t k_zip64_extra = 0x0001;
constexpr uint32_t k_zip64_marker = 0xFFFFFFFF;
constexpr uint16_t k_zip64_marker16 = 0xFFFF;
// APPNOTE 4.6.9, Info-ZIP Unicode Path: version (1 byte, 1), CRC-32 of the stored name
// (4 bytes), then the name in UTF-8.
constexpr uint16_t k_unicode_path = 0x7075;
constexpr uint8_t k_unicode_path_version = 1;
const char k_zip64_refusal[] = "zip64 is not supported";
constexpr int64_t k_filetime_unix_epoch = 116444736000000000LL;
constexpr int64_t k_filetime_per_second = 10000000LL;

bool is_separator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Traditional PKWARE stream cipher.
struct zip_crypto {
    uint32_t keys[3] = {0x12345678u, 0x23456789u, 0x34567890u};
    const z_crc_t* table = get_crc_table();

    uint32_t crc_byte(uint32_t crc, uint8_t b) const {
        return table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    }
    void update(uint8_t plain) {
        keys[0] = crc_byte(keys[0], plain);
        keys[1] = (keys[1] + (keys[0] & 0xFF)) * 134775813u + 1;
        keys[2] = crc_byte(keys[2], static_cast<uint8_t>(keys[1] >> 24));
    }
    void decrypt(unsigned char* data, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const uint32_t t = (keys[2] | 2) & 0xFFFF;
            const uint8_t plain = static_cast<uint8_t>(data[i] ^ ((t * (t ^ 1)) >> 8));
            update(plain);
            data[i] = plain;
        }
    }
};

int64_t days_from_civil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool is_safe_segment(const std::wstring& segment) {
    if (segment.empty() || segment == L".")
        return true;
    // "..", and names Windows trims down to nothing or to "..", climb or vanish.
    if (segment.find_first_not_of(L". ") == std::wstring::npos)
        return false;
    for (wchar_t c : segment)
        if (c < 0x20 || c == L':' || c == L'*' || c == L'?' || c == L'"' || c == L'<' ||
            c == L'>' || c == L'|')
            return false;
    return !is_device_name(segment);
}

bool are_segments_safe(const std::wstring& path, size_t start) {
    size_t begin = start;
    for (size_t i = start; i <= path.size(); ++i) {
        if (i == path.size() || is_separator(path[i])) {
            if (!is_safe_segment(path.substr(begin, i - begin)))
                return false;
            begin = i + 1;
        }
    }
    return true;
}

bool has_drive_prefix(const std::wstring& path) {
    return path.size() >= 2 && path[1] == L':' &&
           ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

// Every folder on the way to `path` (which ends with a separator), from the first one at or
// after `start`; roots and empty segments are skipped.
void add_folder_prefixes(const std::wstring& path, size_t start, std::vector<std::wstring>& out) {
    for (size_t i = std::max<size_t>(start, 1); i < path.size(); ++i) {
        if (!is_separator(path[i]) || is_separator(path[i - 1]))
            continue;
        if (i == 2 && has_drive_prefix(path))
            continue;
        out.push_back(path.substr(0, i));
    }
}

// The data of the first block `id` in an extra field; blocks that run past the field end
// the walk.
bool find_extra_block(const std::string& extra, uint16_t id, std::string* data = nullptr) {
    le_reader rd(reinterpret_cast<const unsigned char*>(extra.data()), extra.size());
    for (size_t pos = 0; pos + 4 <= extra.size();) {
        const size_t size = rd.u16(pos + 2);
        if (size > extra.size() - pos - 4)
            return false;
        if (rd.u16(pos) == id) {
            if (data)
                *data = extra.substr(pos + 4, size);
            return true;
        }
        pos += 4 + size;
    }
    return false;
}

// The UTF-8 name of a version-1 Unicode path block whose CRC matches the stored name; a
// stale block (the name was changed after it was written) is ignored, as APPNOTE 4.6.9 says.
bool unicode_path(const std::string& extra, const std::string& stored_name, std::string& utf8) {
    std::string data;
    if (!find_extra_block(extra, k_unicode_path, &data) || data.size() <= 5)
        return false;
    le_reader rd(reinterpret_cast<const unsigned char*>(data.data()), data.size());
    const auto* name = reinterpret_cast<const unsigned char*>(stored_name.data());
    if (rd.u8(0) != k_unicode_path_version || rd.u32(1) != zip_crc32(0, name, stored_name.size()))
        return false;
    utf8 = data.substr(5);
    return utf8_encode(utf8_decode(utf8)) == utf8;
}

} // namespace

// ---- sources, sinks, reader

size_t memory_source::read_at(uint64_t offset, void* buffer, size_t count) {
    if (offset >= m_size)
        return 0;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, m_size - offset));
    std::memcpy(buffer, m_data + offset, n);
    return n;
}

bool memory_sink::write(const void* data, size_t count) {
    m_data.append(static_cast<const char*>(data), count);
    return true;
}

bool le_reader::has(size_t at, size_t count) {
    if (m_ok && at <= m_size && count <= m_size - at)
        return true;
    m_ok = false;
    return false;
}

uint8_t le_reader::u8(size_t at) {
    return has(at, 1) ? m_data[at] : 0;
}

uint16_t le_reader::u16(size_t at) {
    if (!has(at, 2))
        return 0;
    return static_cast<uint16_t>(m_data[at] | (m_data[at + 1] << 8));
}

uint32_t le_reader::u32(size_t at) {
    if (!has(at, 4))
        return 0;
    return static_cast<uint32_t>(m_data[at]) | (static_cast<uint32_t>(m_data[at + 1]) << 8) |
           (static_cast<uint32_t>(m_data[at + 2]) << 16) |
           (static_cast<uint32_t>(m_data[at + 3]) << 24);
}

// ---- conversions

int64_t unix_to_filetime(int64_t seconds) {
    return seconds * k_filetime_per_second + k_filetime_unix_epoch;
}

int64_t dos_to_filetime(uint16_t dos_date, uint16_t dos_time) {
    // Out-of-range fields occur in the wild; clamp them rather than fail the entry.
    const int year = 1980 + (dos_date >> 9);
    const int month = std::clamp((dos_date >> 5) & 0xF, 1, 12);
    const int day = std::max(dos_date & 0x1F, 1);
    const int hour = std::min(dos_time >> 11, 23);
    const int minute = std::min((dos_time >> 5) & 0x3F, 59);
    const int second = std::min((dos_time & 0x1F) * 2, 59);
    const int64_t days = days_from_civil(year, month, day);
    return unix_to_filetime(days * 86400 + hour * 3600 + minute * 60 + second);
}

uint32_t zip_attributes(uint16_t made_by, uint32_t a) {
    const int host = made_by >> 8;
    bool readonly, hidden = false, system = false, folder, archive = true;
    if (host == 0 || host == 7 || host == 11 || host == 14) {
        readonly = a & 0x1;
        hidden = a & 0x2;
        system = a & 0x4;
        folder = a & 0x10;
        archive = a & 0x20;
    } else {
        folder = a & (1u << 30);
        readonly = !(a & (1u << 23));
    }
    return (folder ? k_attr_directory : 0) | (archive ? k_attr_archive : 0) |
           (hidden ? k_attr_hidden : 0) | (readonly ? k_attr_readonly : 0) |
           (system ? k_attr_system : 0);
}

// ---- name and path rules

std::wstring apply_zip_name_rules(std::wstring name) {
    static const wchar_t* const cuts[] = {L"\\..\\", L"\\../", L"/../", L"/..\\"};
    for (;;) {
        if (name.size() >= 2 && name[1] == L':') {
            name.erase(0, 2);
            continue;
        }
        if (!name.empty() && is_separator(name[0])) {
            name.erase(0, 1);
            continue;
        }
        bool cut = false;
        for (const wchar_t* pattern : cuts) {
            const size_t at = name.find(pattern);
            if (at != std::wstring::npos) {
                name.erase(0, at + 4);
                cut = true;
                break;
            }
        }
        if (!cut)
            return name;
    }
}

bool is_absolute_zip_path(const std::wstring& path) {
    return (!path.empty() && is_separator(path[0])) || has_drive_prefix(path);
}

bool is_safe_entry_name(const std::wstring& name) {
    return !name.empty() && name.size() < k_zip_max_path && !is_separator(name[0]) &&
           are_segments_safe(name, 0);
}

bool is_safe_target_path(const std::wstring& path) {
    if (path.empty() || path.size() >= k_zip_max_path)
        return false;
    // "\\?\" and "\\.\" switch off path parsing or name devices.
    if (path.size() >= 4 && is_separator(path[0]) && is_separator(path[1]) &&
        (path[2] == L'?' || path[2] == L'.') && is_separator(path[3]))
        return false;
    return are_segments_safe(path, has_drive_prefix(path) ? 2 : 0);
}

uint32_t plan_zip_target(const std::wstring& base_folder, const std::wstring& target,
                         bool is_folder, zip_target_plan& plan) {
    plan = {};
    if (!is_safe_target_path(target))
        return ZR_OPEN;
    const bool absolute = is_absolute_zip_path(target);
    const std::wstring base = absolute ? std::wstring() : base_folder;
    if (is_folder) {
        std::wstring full = base + target;
        if (full.size() >= k_zip_max_path)
            return ZR_OPEN;
        if (!is_separator(full.back()))
            full += L'\\';
        add_folder_prefixes(full, base.size(), plan.folders);
        return plan.folders.empty() ? ZR_OPEN : ZR_OK;
    }
    const size_t cut = target.find_last_of(L"\\/");
    const std::wstring folder_part = cut == std::wstring::npos ? L"" : target.substr(0, cut + 1);
    const std::wstring name = cut == std::wstring::npos ? target : target.substr(cut + 1);
    if (name.empty())
        return ZR_OPEN;
    plan.file_path = base + folder_part + name;
    if (plan.file_path.size() >= k_zip_max_path) {
        plan = {};
        return ZR_OPEN;
    }
    add_folder_prefixes(base + folder_part, base.size(), plan.folders);
    return ZR_OK;
}

// ---- reader

struct CZipReader::inflate_state {
    z_stream stream{};
    bool ready = false;
    ~inflate_state() {
        if (ready)
            inflateEnd(&stream);
    }
};

CZipReader::CZipReader(const zip_platform& platform) : m_platform(platform) {}

CZipReader::~CZipReader() = default;

void CZipReader::close() {
    m_source = nullptr;
    m_block_count = 0;
    m_prefix = 0;
    m_cd_offset = 0;
    m_cd_size = 0;
    m_count = 0;
    m_current_index = -1;
    m_current = {};
    m_cached = {};
    m_have_cached = false;
}

uint32_t CZipReader::open(zip_source* source) {
    if (m_source)
        return ZR_ALREADY_OPEN;
    if (!source)
        return ZR_ARGS;
    m_failure = {};
    const uint64_t size = source->size();
    if (size < k_end_record_size)
        return ZR_OPEN;
    m_source = source;
    // Backwards in overlapping windows; the record nearest the end that holds together wins,
    // so signature bytes inside a comment cannot hide the real one.
    const uint64_t floor = size - std::min(size, k_end_search_span);
    uint64_t end = size;
    while (end > floor && end - floor >= 4) {
        const uint64_t begin = std::max(floor, end - std::min<uint64_t>(end, k_block_size));
        const size_t count = static_cast<size_t>(end - begin);
        if (!load_block(begin, count))
            break;
        for (size_t i = count - 4 + 1; i-- > 0;) {
            if (m_block[i] == 0x50 && m_block[i + 1] == 0x4B && m_block[i + 2] == 0x05 &&
                m_block[i + 3] == 0x06) {
                const end_record found = try_end_record(begin + i);
                if (found == end_record::yes)
                    return ZR_OK;
                if (found == end_record::refused) {
                    close();
                    return ZR_OPEN;
                }
            }
            if (m_block_position != begin && !load_block(begin, count))
                break; // a candidate's checks read elsewhere; the window is needed again
        }
        if (begin == floor)
            break;
        end = begin + 3;
    }
    close();
    m_failure.reason = "no end of central directory record";
    return ZR_OPEN;
}

bool CZipReader::load_block(uint64_t position, size_t count) {
    m_block_count = 0;
    if (m_source->read_at(position, m_block, count) != count)
        return false;
    m_block_position = position;
    m_block_count = count;
    return true;
}

bool CZipReader::read_header(uint64_t position, void* buffer, size_t count) {
    if (count == 0)
        return true;
    if (count > k_block_size)
        return m_source->read_at(position, buffer, count) == count;
    if (position < m_block_position || position - m_block_position > m_block_count ||
        count > m_block_count - (position - m_block_position)) {
        const uint64_t size = m_source->size();
        if (position >= size || count > size - position)
            return false;
        if (!load_block(position,
                        static_cast<size_t>(std::min<uint64_t>(k_block_size, size - position))))
            return false;
    }
    std::memcpy(buffer, m_block + (position - m_block_position), count);
    return true;
}

CZipReader::end_record CZipReader::try_end_record(uint64_t position) {
    unsigned char record[k_end_record_size];
    if (!read_header(position, record, sizeof record))
        return end_record::no;
    le_reader rd(record, sizeof record);
    const uint32_t signature = rd.u32(0);
    const uint16_t disk = rd.u16(4);
    const uint16_t cd_disk = rd.u16(6);
    const uint16_t on_disk = rd.u16(8);
    const uint16_t total = rd.u16(10);
    const uint32_t cd_size = rd.u32(12);
    const uint32_t cd_offset = rd.u32(16);
    if (!rd.ok() || signature != k_end_record_signature)
        return end_record::no;
    unsigned char locator[4];
    if (position >= k_zip64_locator_size &&
        read_header(position - k_zip64_locator_size, locator, sizeof locator) &&
        le_reader(locator, sizeof locator).u32(0) == k_zip64_locator_signature) {
        refuse(-1, nullptr, k_zip64_refusal);
        return end_record::refused;
    }
    if (total == k_zip64_marker16 || cd_size == k_zip64_marker || cd_offset == k_zip64_marker) {
        refuse(-1, nullptr, k_zip64_refusal);
        return end_record::refused;
    }
    if (disk != 0 || cd_disk != 0 || on_disk != total || uint64_t(cd_offset) + cd_size > position)
        return end_record::no;
    m_prefix = position - cd_offset - cd_size;
    m_cd_offset = m_prefix + cd_offset;
    m_cd_size = cd_size;
    m_count = total;
    m_current_index = -1;
    m_have_cached = false;
    // A record whose directory starts with an entry is the archive's; past this point a
    // failure refuses the archive instead of trying records further up, which could belong
    // to an archive stored inside this one.
    if (total > 0 && !read_central(m_cd_offset, m_current))
        return end_record::no;
    if (check_directory() != ZR_OK)
        return end_record::refused;
    if (total > 0 && !read_central(m_cd_offset, m_current))
        return end_record::refused;
    m_current_index = total > 0 ? 0 : -1;
    m_current_position = m_cd_offset;
    return end_record::yes;
}

uint32_t CZipReader::refuse(int index, const central_entry* entry, const char* reason) {
    m_failure.index = index;
    m_failure.reason = reason;
    if (entry)
        m_failure.name = decode_name(*entry);
    else if (index >= 0 && seek_entry(index) == ZR_OK)
        m_failure.name = decode_name(m_current);
    return ZR_OPEN;
}

// Every entry is checked once here, so that extraction never starts on an archive that would
// write more than it holds. All checks are exact; they cost one read of each local header
// and a sort of the entries by offset:
// - the entries fill the directory exactly to its stated offset + size (an entry count
//   kept modulo 65536 leaves entries over);
// - no zip64 record or field;
// - the local name is the central name, byte for byte, and a local Unicode path agrees with
//   the central one;
// - no two spans (local header through the end of the data) overlap, and none reaches the
//   directory: entries sharing their bytes let a small archive write without bound.
// An entry whose local header is unreadable or disagrees with the directory in method, name
// length, CRC or sizes is left to describe(), which refuses it before anything is written.
uint32_t CZipReader::check_directory() {
    struct span {
        uint64_t begin, end;
        int index;
    };
    std::unique_ptr<span[]> spans(new (std::nothrow) span[std::max(m_count, 1)]);
    if (!spans)
        return refuse(-1, nullptr, "out of memory");
    int span_count = 0;
    const uint64_t cd_end = m_cd_offset + m_cd_size;
    uint64_t position = m_cd_offset;
    central_entry c;
    local_header local;
    for (int i = 0; i < m_count; ++i) {
        if (position + k_central_size > cd_end || !read_central(position, c))
            return refuse(i, nullptr, "the directory entry is missing or unreadable");
        position += k_central_size + c.name_length + c.extra_length + c.comment_length;
        if (position > cd_end)
            return refuse(i, &c, "the entry runs past the end of the directory");
        if (c.compressed_size == k_zip64_marker || c.uncompressed_size == k_zip64_marker ||
            c.local_offset == k_zip64_marker || c.start_disk == k_zip64_marker16 ||
            find_extra_block(c.extra, k_zip64_extra))
            return refuse(i, &c, k_zip64_refusal);
        const uint64_t at = m_prefix + c.local_offset;
        if (read_local(at, local) != ZR_OK)
            continue;
        if (local.compressed_size == k_zip64_marker || local.uncompressed_size == k_zip64_marker ||
            (local.tail_read && find_extra_block(local.extra, k_zip64_extra)))
            return refuse(i, &c, k_zip64_refusal);
        if (local_mismatch(c, local) || !local.tail_read)
            continue;
        if (local.name != c.name)
            return refuse(i, &c, "the local name differs from the central name");
        std::string local_unicode, central_unicode;
        if (unicode_path(local.extra, local.name, local_unicode) &&
            (!unicode_path(c.extra, c.name, central_unicode) || local_unicode != central_unicode))
            return refuse(i, &c, "the local Unicode name differs from the central one");
        spans[span_count++] = {
            at, at + k_local_size + local.name_length + local.extra_length + c.compressed_size, i};
    }
    if (position != cd_end)
        return refuse(-1, nullptr, "the directory holds more entries than its end record says");
    std::sort(spans.get(), spans.get() + span_count,
              [](const span& a, const span& b) { return a.begin < b.begin; });
    for (int k = 0; k < span_count; ++k) {
        if (spans[k].end > m_cd_offset)
            return refuse(spans[k].index, nullptr, "the entry overlaps the directory");
        if (k > 0 && spans[k].begin < spans[k - 1].end)
            return refuse(spans[k].index, nullptr, "the entry overlaps another entry");
    }
    return ZR_OK;
}

bool CZipReader::read_central(uint64_t position, central_entry& e) {
    unsigned char head[k_central_size];
    if (!read_header(position, head, sizeof head))
        return false;
    le_reader rd(head, sizeof head);
    if (rd.u32(0) != k_central_signature)
        return false;
    e.made_by = rd.u16(4);
    e.flags = rd.u16(8);
    e.method = rd.u16(10);
    e.dos_time = rd.u16(12);
    e.dos_date = rd.u16(14);
    e.crc = rd.u32(16);
    e.compressed_size = rd.u32(20);
    e.uncompressed_size = rd.u32(24);
    e.name_length = rd.u16(28);
    e.extra_length = rd.u16(30);
    e.comment_length = rd.u16(32);
    e.start_disk = rd.u16(34);
    e.external_attributes = rd.u32(38);
    e.local_offset = rd.u32(42);
    if (!rd.ok())
        return false;
    e.name.resize(e.name_length);
    e.extra.resize(e.extra_length);
    return read_header(position + k_central_size, e.name.data(), e.name_length) &&
           read_header(position + k_central_size + e.name_length, e.extra.data(), e.extra_length);
}

// ZR_SEEK when the header cannot be read, ZR_HEADER without the local signature. The name
// and extra field that follow are read when they can be (`tail_read`).
uint32_t CZipReader::read_local(uint64_t position, local_header& local) {
    local.tail_read = false;
    unsigned char head[k_local_size];
    if (!read_header(position, head, sizeof head))
        return ZR_SEEK;
    le_reader rd(head, sizeof head);
    const uint32_t signature = rd.u32(0);
    local.flags = rd.u16(6);
    local.method = rd.u16(8);
    local.crc = rd.u32(14);
    local.compressed_size = rd.u32(18);
    local.uncompressed_size = rd.u32(22);
    local.name_length = rd.u16(26);
    local.extra_length = rd.u16(28);
    if (!rd.ok() || signature != k_local_signature)
        return ZR_HEADER;
    local.name.resize(local.name_length);
    local.extra.resize(local.extra_length);
    local.tail_read = read_header(position + k_local_size, local.name.data(), local.name_length) &&
                      read_header(position + k_local_size + local.name_length, local.extra.data(),
                                  local.extra_length);
    return ZR_OK;
}

// The local header disagrees with the directory: describe() refuses such an entry.
bool CZipReader::local_mismatch(const central_entry& c, const local_header& l) {
    if (l.method != c.method || (l.method != k_method_stored && l.method != k_method_deflated) ||
        l.name_length != c.name_length)
        return true;
    // With a trailing data descriptor the local CRC and sizes may be zero.
    return !((l.flags | c.flags) & k_flag_descriptor) &&
           (l.crc != c.crc || l.compressed_size != c.compressed_size ||
            l.uncompressed_size != c.uncompressed_size);
}

std::wstring CZipReader::decode_name(const central_entry& c) const {
    std::string unicode;
    if (c.flags & k_flag_utf8)
        return utf8_decode(c.name);
    if (unicode_path(c.extra, c.name, unicode))
        return utf8_decode(unicode);
    if (m_platform.decode_ansi)
        return m_platform.decode_ansi(c.name);
    std::wstring name;
    for (char ch : c.name)
        name.push_back(static_cast<unsigned char>(ch));
    return name;
}

uint32_t CZipReader::seek_entry(int index) {
    if (m_current_index < 0 || index < m_current_index) {
        m_current_index = -1;
        if (!read_central(m_cd_offset, m_current))
            return ZR_SEEK;
        m_current_index = 0;
        m_current_position = m_cd_offset;
    }
    while (m_current_index < index) {
        const uint64_t next = m_current_position + k_central_size + m_current.name_length +
                              m_current.extra_length + m_current.comment_length;
        if (!read_central(next, m_current)) {
            m_current_index = -1;
            return ZR_SEEK;
        }
        m_current_position = next;
        ++m_current_index;
    }
    return ZR_OK;
}

uint32_t CZipReader::describe(int index, zip_entry_info& out) {
    if (!m_source || index < -1 || index >= m_count)
        return ZR_ARGS;
    if (index == -1) {
        out = {};
        out.index = m_count;
        return ZR_OK;
    }
    if (m_have_cached && m_cached.index == index) {
        out = m_cached;
        return ZR_OK;
    }
    m_failure = {};
    m_failure.index = index;
    if (const uint32_t code = seek_entry(index))
        return code;
    const central_entry& c = m_current;

    const uint64_t local = m_prefix + c.local_offset;
    local_header l;
    uint32_t code = read_local(local, l);
    if (code == ZR_OK && local_mismatch(c, l))
        code = ZR_HEADER;
    if (code == ZR_OK && !l.tail_read)
        code = ZR_SEEK;
    if (code != ZR_OK) {
        m_failure.index = index;
        m_failure.name = decode_name(c);
        return code;
    }
    const std::string& extra = l.extra;
    const uint16_t name_length = l.name_length;
    const uint16_t extra_length = l.extra_length;

    zip_entry_info info;
    info.index = index;
    info.name = apply_zip_name_rules(decode_name(c));
    info.attributes = zip_attributes(c.made_by, c.external_attributes);

    int64_t dos = dos_to_filetime(c.dos_date, c.dos_time);
    if (m_platform.local_to_utc)
        dos = m_platform.local_to_utc(dos);
    info.access_time = info.creation_time = info.write_time = dos;
    le_reader ex(reinterpret_cast<const unsigned char*>(extra.data()), extra.size());
    for (size_t pos = 0; pos + 4 < extra.size();) {
        const uint16_t id = ex.u16(pos);
        const uint16_t size = ex.u16(pos + 2);
        if (id == k_extended_timestamp) {
            const size_t end = std::min(extra.size(), pos + 4 + size);
            size_t at = pos + 5;
            const uint8_t present = size > 0 ? ex.u8(pos + 4) : 0;
            int64_t* const slots[] = {&info.write_time, &info.access_time, &info.creation_time};
            for (int bit = 0; bit < 3; ++bit) {
                if (!(present & (1 << bit)) || at + 4 > end)
                    continue;
                *slots[bit] = unix_to_filetime(static_cast<int32_t>(ex.u32(at)));
                at += 4;
            }
            break;
        }
        pos += 4 + size;
    }

    info.compressed_size = c.compressed_size;
    info.uncompressed_size = c.uncompressed_size;
    info.flags = c.flags;
    info.method = c.method;
    info.dos_time = c.dos_time;
    info.crc = c.crc;
    info.data_offset = local + k_local_size + name_length + extra_length;
    m_cached = info;
    m_have_cached = true;
    out = std::move(info);
    return ZR_OK;
}

bool CZipReader::ensure_buffers() {
    if (!m_in)
        m_in.reset(new (std::nothrow) unsigned char[k_zip_buffer_size]);
    if (!m_out)
        m_out.reset(new (std::nothrow) unsigned char[k_zip_buffer_size]);
    if (!m_inflate)
        m_inflate.reset(new (std::nothrow) inflate_state);
    return m_in && m_out && m_inflate;
}

uint32_t CZipReader::extract(int index, zip_sink& sink) {
    if (index < 0)
        return ZR_ARGS;
    zip_entry_info info;
    if (const uint32_t code = describe(index, info))
        return code;
    if (!ensure_buffers())
        return ZR_DATA;
    return inflate_entry(info, sink);
}

uint32_t CZipReader::inflate_entry(const zip_entry_info& info, zip_sink& sink) {
    uint64_t position = info.data_offset;
    uint64_t remaining_in = info.compressed_size;
    const uint64_t limit = info.uncompressed_size;
    uint64_t total = 0;
    uint32_t crc = 0;

    zip_crypto crypto;
    const bool encrypted = info.flags & k_flag_encrypted;
    if (encrypted) {
        unsigned char header[12];
        if (remaining_in < sizeof header ||
            m_source->read_at(position, header, sizeof header) != sizeof header)
            return ZR_DATA;
        crypto.decrypt(header, sizeof header);
        const uint8_t check =
            (info.flags & k_flag_descriptor) ? info.dos_time >> 8 : info.crc >> 24;
        if (header[11] != check)
            return ZR_PASSWORD;
        position += sizeof header;
        remaining_in -= sizeof header;
    }

    // Hands produced bytes on, never more than the declared size.
    auto emit = [&](const unsigned char* data, size_t count) -> uint32_t {
        const bool overrun = count > limit - total;
        if (overrun)
            count = static_cast<size_t>(limit - total);
        crc = zip_crc32(crc, data, count);
        total += count;
        if (count && !sink.write(data, count))
            return ZR_WRITE;
        return overrun ? ZR_DATA : ZR_OK;
    };
    auto read_chunk = [&](unsigned char* buffer, size_t& got) -> bool {
        got = static_cast<size_t>(std::min<uint64_t>(k_zip_buffer_size, remaining_in));
        if (m_source->read_at(position, buffer, got) != got)
            return false;
        if (encrypted)
            crypto.decrypt(buffer, got);
        position += got;
        remaining_in -= got;
        return true;
    };

    if (info.method == k_method_stored) {
        while (remaining_in > 0) {
            size_t got = 0;
            if (!read_chunk(m_out.get(), got))
                return ZR_DATA;
            if (const uint32_t code = emit(m_out.get(), got))
                return code;
        }
    } else {
        z_stream& z = m_inflate->stream;
        if (!m_inflate->ready) {
            if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
                return ZR_DATA;
            m_inflate->ready = true;
        } else if (inflateReset(&z) != Z_OK) {
            return ZR_DATA;
        }
        z.next_in = m_in.get();
        z.avail_in = 0;
        for (;;) {
            if (z.avail_in == 0 && remaining_in > 0) {
                size_t got = 0;
                if (!read_chunk(m_in.get(), got))
                    return ZR_DATA;
                z.next_in = m_in.get();
                z.avail_in = static_cast<uInt>(got);
            }
            const uInt in_before = z.avail_in;
            z.next_out = m_out.get();
            z.avail_out = static_cast<uInt>(k_zip_buffer_size);
            const int result = inflate(&z, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
                return ZR_DATA;
            const size_t produced = k_zip_buffer_size - z.avail_out;
            if (const uint32_t code = emit(m_out.get(), produced))
                return code;
            if (result == Z_STREAM_END)
                break;
            // No progress with all input handed over: the data ended early.
            if (produced == 0 && z.avail_in == in_before)
                return ZR_DATA;
        }
    }
    return total == limit && crc == info.crc ? ZR_OK : ZR_DATA;
}
