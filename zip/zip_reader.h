#pragma once
// Zip archive reader: directory parsing, entry description, name and path rules, and the
// stored/deflate streaming with CRC and size checks. No Win32 here, so the same code runs
// natively under the sanitizers and inside the launcher; zip/unzip.h is the Windows face.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// zr codes: 0 for success. Every operation of the reader and of zip/unzip.h returns one.
constexpr uint32_t ZR_OK = 0;
// Archive missing, locked or not a zip archive; or the target cannot (or must not) be created.
constexpr uint32_t ZR_OPEN = 0x200;
constexpr uint32_t ZR_WRITE = 0x400;
// Local header disagrees with the central directory (or names an unsupported method).
constexpr uint32_t ZR_HEADER = 0x700;
// Local extra field unreadable, or the archive cannot be positioned on the entry.
constexpr uint32_t ZR_SEEK = 0x800;
constexpr uint32_t ZR_PASSWORD = 0x1000;
constexpr uint32_t ZR_ARGS = 0x10000;
constexpr uint32_t ZR_NOT_UNZIP = 0x80000;
constexpr uint32_t ZR_ALREADY_OPEN = 0x1000000;
// Decompression failed, the data ended early, ran past its declared size or fails its CRC.
constexpr uint32_t ZR_DATA = 0x5000000;

// Paths, as Windows counts them, must stay below this many UTF-16 units.
constexpr size_t k_zip_max_path = 260;
constexpr size_t k_zip_buffer_size = 16384;

// Archive bytes, read at an offset; the Windows layer reads a file handle, tests read memory.
class zip_source {
public:
    virtual ~zip_source() = default;
    virtual uint64_t size() const = 0;
    // Returns how many bytes were read; fewer than asked means the end or a read error.
    virtual size_t read_at(uint64_t offset, void* buffer, size_t count) = 0;
};

// Where an entry's bytes go.
class zip_sink {
public:
    virtual ~zip_sink() = default;
    virtual bool write(const void* data, size_t count) = 0;
};

// The source does not copy: `data` must outlive it.
class memory_source : public zip_source {
public:
    memory_source(const void* data, size_t count)
        : m_data(static_cast<const unsigned char*>(data)), m_size(count) {}
    uint64_t size() const override { return m_size; }
    size_t read_at(uint64_t offset, void* buffer, size_t count) override;

private:
    const unsigned char* m_data;
    size_t m_size;
};

class memory_sink : public zip_sink {
public:
    bool write(const void* data, size_t count) override;
    std::string m_data;
};

// Bounds-checked little-endian reads over a byte range. A read outside the range returns 0
// and clears ok() for good, so a run of reads needs one check at the end.
class le_reader {
public:
    le_reader(const unsigned char* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t u8(size_t at);
    uint16_t u16(size_t at);
    uint32_t u32(size_t at);
    bool ok() const { return m_ok; }

private:
    bool has(size_t at, size_t count);
    const unsigned char* m_data;
    size_t m_size;
    bool m_ok = true;
};

// What the platform decides: the ANSI code page and the local time zone.
struct zip_platform {
    // Name bytes in the ANSI code page to text; null maps each byte to the same code point.
    std::wstring (*decode_ansi)(const std::string& bytes) = nullptr;
    // A FILETIME-scaled local wall-clock time to UTC; null leaves it unchanged.
    int64_t (*local_to_utc)(int64_t local_time) = nullptr;
};

// One entry as described to callers. Times are FILETIME values (100 ns since 1601, UTC).
struct zip_entry_info {
    int index = -1;
    std::wstring name; // after the name rules, never truncated
    uint32_t attributes = 0;
    int64_t access_time = 0;
    int64_t creation_time = 0;
    int64_t write_time = 0;
    uint32_t compressed_size = 0;
    uint32_t uncompressed_size = 0;

    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t dos_time = 0;
    uint32_t crc = 0;
    uint64_t data_offset = 0; // absolute position of the entry's data in the source
};

constexpr uint32_t k_attr_readonly = 0x1;
constexpr uint32_t k_attr_hidden = 0x2;
constexpr uint32_t k_attr_system = 0x4;
constexpr uint32_t k_attr_directory = 0x10;
constexpr uint32_t k_attr_archive = 0x20;

class CZipReader {
public:
    explicit CZipReader(const zip_platform& platform = {});
    ~CZipReader();
    CZipReader(const CZipReader&) = delete;
    CZipReader& operator=(const CZipReader&) = delete;

    // Reads the directory and checks every entry's local header against it; an archive that
    // could write more than its entries hold (overlapping entries, a wrapped entry count), or
    // that uses zip64, is refused here with ZR_OPEN, before anything is extracted. The source
    // must outlive the reader or the next close().
    uint32_t open(zip_source* source);
    void close();
    bool is_open() const { return m_source != nullptr; }
    int entry_count() const { return m_count; }

    // Index -1 gives only the number of entries in `out.index`.
    uint32_t describe(int index, zip_entry_info& out);
    // Streams the entry's data into `sink`. ZR_DATA unless the output has exactly the
    // declared size and CRC-32; nothing past the declared size reaches the sink.
    uint32_t extract(int index, zip_sink& sink);

    // Why the last open() or describe() failed, for tools and logs: the entry concerned
    // (index -1 and an empty name for the archive as a whole) and a short English reason,
    // which may be empty.
    struct failure_info {
        int index = -1;
        std::wstring name;
        std::string reason;
    };
    const failure_info& last_failure() const { return m_failure; }

private:
    struct central_entry {
        uint16_t made_by = 0;
        uint16_t flags = 0;
        uint16_t method = 0;
        uint16_t dos_time = 0;
        uint16_t dos_date = 0;
        uint32_t crc = 0;
        uint32_t compressed_size = 0;
        uint32_t uncompressed_size = 0;
        uint16_t name_length = 0;
        uint16_t extra_length = 0;
        uint16_t comment_length = 0;
        uint32_t external_attributes = 0;
        uint16_t start_disk = 0;
        uint32_t local_offset = 0;
        std::string name;
        std::string extra;
    };

    // Headers are small and close together: they are read through one block so that a small
    // archive costs a handful of reads. Entry data bypasses it.
    bool load_block(uint64_t position, size_t count);
    bool read_header(uint64_t position, void* buffer, size_t count);
    struct local_header {
        uint16_t flags = 0;
        uint16_t method = 0;
        uint32_t crc = 0;
        uint32_t compressed_size = 0;
        uint32_t uncompressed_size = 0;
        uint16_t name_length = 0;
        uint16_t extra_length = 0;
        std::string name;
        std::string extra;
        bool tail_read = false; // name and extra
    };

    enum class end_record { no, yes, refused };
    end_record try_end_record(uint64_t position);
    bool read_central(uint64_t position, central_entry& entry);
    uint32_t check_directory();
    uint32_t refuse(int index, const central_entry* entry, const char* reason);
    std::wstring decode_name(const central_entry& entry) const;
    uint32_t seek_entry(int index);
    uint32_t read_local(uint64_t position, local_header& local);
    static bool local_mismatch(const central_entry& c, const local_header& local);
    uint32_t inflate_entry(const zip_entry_info& info, zip_sink& sink);
    bool ensure_buffers();

    static constexpr size_t k_block_size = 4096;
    zip_platform m_platform;
    zip_source* m_source = nullptr;
    unsigned char m_block[k_block_size];
    uint64_t m_block_position = 0;
    size_t m_block_count = 0;
    uint64_t m_prefix = 0; // bytes in front of the archive, added to every stored offset
    uint64_t m_cd_offset = 0;
    uint32_t m_cd_size = 0;
    int m_count = 0;
    int m_current_index = -1;
    uint64_t m_current_position = 0;
    central_entry m_current;
    zip_entry_info m_cached;
    bool m_have_cached = false;
    failure_info m_failure;
    std::unique_ptr<unsigned char[]> m_in;
    std::unique_ptr<unsigned char[]> m_out;
    struct inflate_state;
    std::unique_ptr<inflate_state> m_inflate;
};

// ---- name and path rules (pure; shared by the Windows layer and the native tool)

// The legacy clean-up of stored names: drive prefix, leading separators, "\..\" cuts.
std::wstring apply_zip_name_rules(std::wstring name);
// An entry name that can only land below the folder it is extracted into: relative, no ".."
// or dots-only segment, no ":" (drives, alternate streams), no device names or wildcards.
bool is_safe_entry_name(const std::wstring& name);
// A target path a caller may hand in: absolute or relative, but with no way to climb or to
// reach a device; shorter than k_zip_max_path.
bool is_safe_target_path(const std::wstring& path);
bool is_absolute_zip_path(const std::wstring& path);

// The folders to create (outermost first) and the file to write for one extraction.
struct zip_target_plan {
    std::vector<std::wstring> folders;
    std::wstring file_path; // empty for a folder entry
};
// `base_folder` ends with a separator; a relative target lands below it. ZR_OPEN for an
// unsafe target or a resulting path of k_zip_max_path units or more.
uint32_t plan_zip_target(const std::wstring& base_folder, const std::wstring& target,
                         bool is_folder, zip_target_plan& plan);

// ---- conversions (exposed for tests and the native tool)
int64_t dos_to_filetime(uint16_t dos_date, uint16_t dos_time);
int64_t unix_to_filetime(int64_t seconds);
uint32_t zip_attributes(uint16_t made_by, uint32_t external_attributes);
