#include "zip/zip_reader.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/native/test_zip_writer.h"
#include "util/text_util.h"

namespace {

using ztest::build;
using ztest::entry;

// One archive held in memory, opened.
struct opened_zip {
    explicit opened_zip(std::string bytes, const zip_platform& platform = {})
        : data(std::move(bytes)), source(data.data(), data.size()), reader(platform) {
        code = reader.open(&source);
    }
    std::string data;
    memory_source source;
    CZipReader reader;
    uint32_t code;

    uint32_t extract(int index, std::string& out) {
        memory_sink sink;
        const uint32_t result = reader.extract(index, sink);
        out = sink.m_data;
        return result;
    }
};

int64_t ft(int64_t unix_seconds) {
    return unix_to_filetime(unix_seconds);
}

const int64_t k_entry_dos_time = ft(1592224496); // the writer's default, 2020-06-15 12:34:56

TEST(ZipReader, ExtractsStoredAndDeflatedEntriesOfEverySize) {
    struct {
        const char* what;
        std::string data;
        uint16_t method;
    } cases[] = {
        {"empty stored", "", 0},
        {"empty deflated", "", 8},
        {"small stored", "hello", 0},
        {"small deflated", "hello hello hello", 8},
        {"text across many buffers", ztest::text_data(5 * k_zip_buffer_size + 123), 8},
        {"noise across many buffers", ztest::noise_data(3 * k_zip_buffer_size + 7), 8},
        {"stored across buffers", ztest::noise_data(2 * k_zip_buffer_size + 1), 0},
        {"exactly one buffer", ztest::text_data(k_zip_buffer_size), 8},
    };
    for (const auto& c : cases) {
        opened_zip zip(build({ztest::file("f.bin", c.data, c.method)}).bytes);
        ASSERT_EQ(zip.code, ZR_OK) << c.what;
        std::string out;
        EXPECT_EQ(zip.extract(0, out), ZR_OK) << c.what;
        EXPECT_EQ(out, c.data) << c.what;
    }
}

TEST(ZipReader, ReadsAnArchiveMadeByPythonZipfile) {
    // zipfile.ZipFile: folder "dir/", stored "dir/hello.txt", deflated read-only "data.txt".
    static const unsigned char fixture[] = {
        0x50, 0x4b, 0x03, 0x04, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0xc4, 0x28, 0x64, 0x52, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00,
        0x64, 0x69, 0x72, 0x2f, 0x50, 0x4b, 0x03, 0x04, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0xc4,
        0x28, 0x64, 0x52, 0x5f, 0xb0, 0x79, 0x8d, 0x11, 0x00, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00,
        0x0d, 0x00, 0x00, 0x00, 0x64, 0x69, 0x72, 0x2f, 0x68, 0x65, 0x6c, 0x6c, 0x6f, 0x2e, 0x74,
        0x78, 0x74, 0x48, 0x65, 0x6c, 0x6c, 0x6f, 0x2c, 0x20, 0x6c, 0x61, 0x75, 0x6e, 0x63, 0x68,
        0x65, 0x72, 0x21, 0x0a, 0x50, 0x4b, 0x03, 0x04, 0x14, 0x00, 0x00, 0x00, 0x08, 0x00, 0xc5,
        0x28, 0x64, 0x52, 0x6d, 0xdf, 0x35, 0xca, 0x0b, 0x00, 0x00, 0x00, 0x58, 0x02, 0x00, 0x00,
        0x08, 0x00, 0x00, 0x00, 0x64, 0x61, 0x74, 0x61, 0x2e, 0x74, 0x78, 0x74, 0x4b, 0x4c, 0x4a,
        0x4e, 0x1c, 0x45, 0xa3, 0x88, 0xda, 0x08, 0x00, 0x50, 0x4b, 0x01, 0x02, 0x14, 0x03, 0x14,
        0x00, 0x00, 0x00, 0x00, 0x00, 0xc4, 0x28, 0x64, 0x52, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x10, 0x00, 0xed, 0x41, 0x00, 0x00, 0x00, 0x00, 0x64, 0x69, 0x72, 0x2f, 0x50, 0x4b,
        0x01, 0x02, 0x14, 0x03, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0xc4, 0x28, 0x64, 0x52, 0x5f,
        0xb0, 0x79, 0x8d, 0x11, 0x00, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00, 0x0d, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xa4, 0x01, 0x22, 0x00, 0x00, 0x00, 0x64,
        0x69, 0x72, 0x2f, 0x68, 0x65, 0x6c, 0x6c, 0x6f, 0x2e, 0x74, 0x78, 0x74, 0x50, 0x4b, 0x01,
        0x02, 0x14, 0x03, 0x14, 0x00, 0x00, 0x00, 0x08, 0x00, 0xc5, 0x28, 0x64, 0x52, 0x6d, 0xdf,
        0x35, 0xca, 0x0b, 0x00, 0x00, 0x00, 0x58, 0x02, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x24, 0x01, 0x5e, 0x00, 0x00, 0x00, 0x64, 0x61,
        0x74, 0x61, 0x2e, 0x74, 0x78, 0x74, 0x50, 0x4b, 0x05, 0x06, 0x00, 0x00, 0x00, 0x00, 0x03,
        0x00, 0x03, 0x00, 0xa3, 0x00, 0x00, 0x00, 0x8f, 0x00, 0x00, 0x00, 0x00, 0x00,
    };
    opened_zip zip(std::string(reinterpret_cast<const char*>(fixture), sizeof fixture));
    ASSERT_EQ(zip.code, ZR_OK);
    ASSERT_EQ(zip.reader.entry_count(), 3);
    zip_entry_info info;
    std::string out;
    ASSERT_EQ(zip.reader.describe(0, info), ZR_OK);
    EXPECT_EQ(info.name, L"dir/");
    EXPECT_EQ(info.attributes, k_attr_directory | k_attr_archive);
    ASSERT_EQ(zip.reader.describe(1, info), ZR_OK);
    EXPECT_EQ(info.name, L"dir/hello.txt");
    EXPECT_EQ(info.attributes, k_attr_archive);
    EXPECT_EQ(info.write_time, ft(1614834368)); // 2021-03-04 05:06:08
    EXPECT_EQ(zip.extract(1, out), ZR_OK);
    EXPECT_EQ(out, "Hello, launcher!\n");
    ASSERT_EQ(zip.reader.describe(2, info), ZR_OK);
    EXPECT_EQ(info.attributes, k_attr_archive | k_attr_readonly);
    EXPECT_EQ(zip.extract(2, out), ZR_OK);
    std::string abc;
    for (int i = 0; i < 200; ++i)
        abc += "abc";
    EXPECT_EQ(out, abc);
}

TEST(ZipReader, FindsTheArchiveBehindAStubAndBeforeAComment) {
    const std::string data = ztest::text_data(50000);
    std::string fake_end_record;
    ztest::put32(fake_end_record, 0x06054B50);
    fake_end_record += std::string(18, '\x07');
    struct {
        const char* what;
        std::string prefix, comment;
    } cases[] = {
        {"stub in front", "MZ" + ztest::noise_data(70000), ""},
        {"comment after the end record", "", std::string(1000, 'c')},
        {"comment of the largest size", "", std::string(65535, 'c')},
        {"comment holding a bogus end record", "", "note " + fake_end_record + " end"},
        {"stub and comment", ztest::noise_data(300), "comment"},
    };
    for (const auto& c : cases) {
        opened_zip zip(
            build({ztest::file("a.txt", data), ztest::file("b.txt", "bee", 0)}, c.prefix, c.comment)
                .bytes);
        ASSERT_EQ(zip.code, ZR_OK) << c.what;
        EXPECT_EQ(zip.reader.entry_count(), 2) << c.what;
        std::string out;
        EXPECT_EQ(zip.extract(0, out), ZR_OK) << c.what;
        EXPECT_EQ(out, data) << c.what;
        EXPECT_EQ(zip.extract(1, out), ZR_OK) << c.what;
        EXPECT_EQ(out, "bee") << c.what;
    }
}

TEST(ZipReader, RefusesArchivesWithoutAConsistentEndRecord) {
    const ztest::archive good = build({ztest::file("a.txt", "alpha")});
    auto spoiled = [&](size_t at, uint32_t value, bool wide) {
        std::string b = good.bytes;
        wide ? ztest::set32(b, good.end_offset + at, value)
             : ztest::set16(b, good.end_offset + at, value);
        return b;
    };
    struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty file", ""},
        {"not a zip", ztest::text_data(5000)},
        {"end record cut short", good.bytes.substr(0, good.bytes.size() - 1)},
        {"end record on another disk", spoiled(4, 1, false)},
        {"directory on another disk", spoiled(6, 1, false)},
        {"entry counts differ", spoiled(8, 2, false)},
        {"directory runs into the end record", spoiled(12, 0x1000, true)},
        {"directory offset past the end record", spoiled(16, 0x7FFFFFFF, true)},
        {"end record beyond the comment span", good.bytes + std::string(70000, 'c')},
    };
    for (const auto& c : cases) {
        opened_zip zip(c.bytes);
        EXPECT_EQ(zip.code, ZR_OPEN) << c.what;
        zip_entry_info info;
        EXPECT_EQ(zip.reader.describe(0, info), ZR_ARGS) << c.what;
    }
    std::string first_entry_broken = good.bytes;
    first_entry_broken[good.central_offsets[0]] = 'X';
    EXPECT_EQ(opened_zip(first_entry_broken).code, ZR_OPEN);
}

TEST(ZipReader, EveryTruncationFailsCleanly) {
    const std::string bytes =
        build({ztest::file("one.txt", ztest::text_data(3000)), ztest::file("two.bin", "22", 0)})
            .bytes;
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        opened_zip zip(bytes.substr(0, cut));
        ASSERT_NE(zip.code, ZR_OK) << cut;
    }
    // Entry data cut away under an intact directory: its data would run into the directory.
    for (uint16_t method : {0, 8}) {
        ztest::archive a = build({ztest::file("big.bin", ztest::noise_data(40000), method)});
        const size_t kept = a.local_offsets[0] + 30 + 7 + 100;
        std::string cut = a.bytes.substr(0, kept) + a.bytes.substr(a.central_offsets[0]);
        ztest::set32(cut, cut.size() - 22 + 16, uint32_t(kept));
        EXPECT_EQ(opened_zip(cut).code, ZR_OPEN) << method;
    }
}

TEST(ZipReader, DamagedEntriesAreNotReportedAsExtracted) {
    const std::string data = ztest::text_data(100000);
    auto with = [&](auto change) {
        entry e = ztest::file("f.txt", data);
        change(e);
        return e;
    };
    struct {
        const char* what;
        entry e;
        size_t expected_output; // bytes that may reach the sink at most
    } cases[] = {
        {"wrong CRC", with([](entry& e) { e.set_crc = true, e.crc = 0x12345678; }), data.size()},
        {"declared size too small", with([](entry& e) { e.set_size = true, e.size = 1000; }), 1000},
        {"declared size too large",
         with([&](entry& e) { e.set_size = true, e.size = uint32_t(data.size() + 1); }),
         data.size()},
        {"stored, declared size too small",
         with([](entry& e) { e.method = 0, e.set_size = true, e.size = 10; }), 10},
        {"not deflate data", with([](entry& e) { e.raw = true, e.data = "\xff\xff\xff\xff"; }), 0},
        {"deflate stream cut short", with([&](entry& e) {
             e.raw = true;
             e.data = ztest::deflate_raw(data).substr(0, 500);
             e.set_crc = true, e.crc = ztest::crc_of(data);
             e.set_size = true, e.size = uint32_t(data.size());
         }),
         data.size()},
    };
    for (const auto& c : cases) {
        opened_zip zip(build({c.e}).bytes);
        ASSERT_EQ(zip.code, ZR_OK) << c.what;
        std::string out;
        EXPECT_EQ(zip.extract(0, out), ZR_DATA) << c.what;
        EXPECT_LE(out.size(), c.expected_output) << c.what;
    }

    // A flipped bit in the middle of the compressed data.
    ztest::archive a = build({ztest::file("f.txt", data)});
    a.bytes[a.local_offsets[0] + 30 + 5 + 200] ^= 0x10;
    opened_zip flipped(a.bytes);
    std::string out;
    EXPECT_EQ(flipped.extract(0, out), ZR_DATA);
}

TEST(ZipReader, OutputStopsAtTheDeclaredSize) {
    // A small stream that inflates to far more than its header admits.
    entry bomb = ztest::file("bomb", std::string(20u << 20, '\0'));
    bomb.set_size = true;
    bomb.size = 4096;
    opened_zip zip(build({bomb}).bytes);
    ASSERT_EQ(zip.code, ZR_OK);
    std::string out;
    EXPECT_EQ(zip.extract(0, out), ZR_DATA);
    EXPECT_EQ(out.size(), 4096u);
}

TEST(ZipReader, LocalHeaderMustAgreeWithTheDirectory) {
    ztest::archive a = build({ztest::file("name.txt", "payload")});
    const size_t local = a.local_offsets[0];
    struct {
        const char* what;
        size_t at;
        uint32_t value;
        bool wide;
        uint32_t expected;
    } cases[] = {
        {"signature", 0, 0x04034B51, true, ZR_HEADER},
        {"method", 8, 0, false, ZR_HEADER},
        {"CRC", 14, 1, true, ZR_HEADER},
        {"compressed size", 18, 1, true, ZR_HEADER},
        {"uncompressed size", 22, 1, true, ZR_HEADER},
        {"name length", 26, 7, false, ZR_HEADER},
        {"extra field runs past the file", 28, 0xFFFF, false, ZR_SEEK},
    };
    for (const auto& c : cases) {
        std::string b = a.bytes;
        c.wide ? ztest::set32(b, local + c.at, c.value) : ztest::set16(b, local + c.at, c.value);
        opened_zip zip(b);
        ASSERT_EQ(zip.code, ZR_OK) << c.what;
        zip_entry_info info;
        EXPECT_EQ(zip.reader.describe(0, info), c.expected) << c.what;
        std::string out;
        EXPECT_EQ(zip.extract(0, out), c.expected) << c.what;
        EXPECT_TRUE(out.empty()) << c.what;
    }

    entry bzip2 = ztest::file("b.bz2", "xx", 0);
    bzip2.method = 12;
    opened_zip unsupported(build({bzip2}).bytes);
    std::string out;
    EXPECT_EQ(unsupported.extract(0, out), ZR_HEADER);

    // With a trailing data descriptor the local CRC and sizes are zero, and that is fine.
    entry streamed = ztest::file("s.txt", ztest::text_data(30000));
    streamed.flags = 8;
    opened_zip descriptor(build({streamed}).bytes);
    EXPECT_EQ(descriptor.extract(0, out), ZR_OK);
    EXPECT_EQ(out, streamed.data);
}

TEST(ZipReader, EntriesMustNotShareTheirBytes) {
    // Three stored entries of one name (so that only the layout can be at fault); the
    // second has a data descriptor, which leaves a gap after its data.
    std::vector<entry> entries(3, ztest::file("f", std::string(100, 'x'), 0));
    entries[1].flags = 8;
    auto set_size = [](ztest::archive& a, int i, uint32_t size) {
        ztest::set32(a.bytes, a.central_offsets[i] + 20, size);
        ztest::set32(a.bytes, a.local_offsets[i] + 18, size);
    };
    auto set_offset = [](ztest::archive& a, int i, size_t offset) {
        ztest::set32(a.bytes, a.central_offsets[i] + 42, uint32_t(offset));
    };
    const uint32_t record = 30 + 1 + 100; // one entry's span
    struct {
        const char* what;
        std::function<void(ztest::archive&)> change;
        uint32_t expected;
    } cases[] = {
        {"as written, with a gap", [](ztest::archive&) {}, ZR_OK},
        {"directory in another order than the data",
         [&](ztest::archive& a) {
             set_offset(a, 0, a.local_offsets[2]);
             set_offset(a, 2, a.local_offsets[0]);
         },
         ZR_OK},
        {"two entries, one local header",
         [&](ztest::archive& a) { set_offset(a, 2, a.local_offsets[0]); }, ZR_OPEN},
        {"data runs into the next header", [&](ztest::archive& a) { set_size(a, 0, record - 29); },
         ZR_OPEN},
        {"an entry inside another's data", [&](ztest::archive& a) { set_size(a, 0, 2 * record); },
         ZR_OPEN},
        {"a local extra field reaches the next header",
         [&](ztest::archive& a) { ztest::set16(a.bytes, a.local_offsets[0] + 28, 1); }, ZR_OPEN},
        {"the last data runs into the directory", [&](ztest::archive& a) { set_size(a, 2, 101); },
         ZR_OPEN},
    };
    for (const auto& c : cases) {
        ztest::archive a = build(entries);
        c.change(a);
        opened_zip zip(a.bytes);
        EXPECT_EQ(zip.code, c.expected) << c.what;
        if (c.expected != ZR_OK) {
            EXPECT_NE(zip.reader.last_failure().reason.find("overlaps"), std::string::npos)
                << c.what << ": " << zip.reader.last_failure().reason;
        }
    }

    // The non-recursive bomb: ten directory entries, one local header of well-compressed data.
    std::vector<entry> ten(10, ztest::file("same", std::string(1 << 20, '\0')));
    ztest::archive bomb = build(ten);
    for (int i = 1; i < 10; ++i)
        set_offset(bomb, i, 0);
    opened_zip zip(bomb.bytes);
    EXPECT_EQ(zip.code, ZR_OPEN);
    zip_entry_info info;
    EXPECT_EQ(zip.reader.describe(0, info), ZR_ARGS);

    // A different local name (same length) refuses the archive, naming the entry.
    ztest::archive renamed = build({ztest::file("a.txt", "1"), ztest::file("b.txt", "2")});
    renamed.bytes[renamed.local_offsets[1] + 30] = 'c';
    opened_zip other(renamed.bytes);
    EXPECT_EQ(other.code, ZR_OPEN);
    EXPECT_EQ(other.reader.last_failure().index, 1);
    EXPECT_EQ(other.reader.last_failure().name, L"b.txt");
}

TEST(ZipReader, TheDirectoryHoldsExactlyTheCountedEntries) {
    // 70000 entries without zip64: the end record keeps the count modulo 65536.
    std::vector<entry> many(70000, ztest::file("e", "", 0));
    opened_zip wrapped(build(many).bytes);
    EXPECT_EQ(wrapped.code, ZR_OPEN);
    EXPECT_EQ(wrapped.reader.entry_count(), 0);

    const ztest::archive three =
        build({ztest::file("a", "1"), ztest::file("b", "2"), ztest::file("c", "3")});
    for (uint32_t count : {2u, 4u}) {
        std::string b = three.bytes;
        ztest::set16(b, three.end_offset + 8, count);
        ztest::set16(b, three.end_offset + 10, count);
        EXPECT_EQ(opened_zip(b).code, ZR_OPEN) << count;
    }
}

TEST(ZipReader, Zip64IsRefusedAtOpen) {
    std::string zip64_sizes;
    ztest::put32(zip64_sizes, 5);
    ztest::put32(zip64_sizes, 0);
    ztest::put32(zip64_sizes, 5);
    ztest::put32(zip64_sizes, 0);
    const std::string zip64_block = ztest::extra_block(0x0001, zip64_sizes);
    auto with = [&](auto change) {
        entry e = ztest::file("f.txt", "hello", 0);
        change(e);
        return build({ztest::file("first", "1"), e});
    };
    const ztest::archive plain = with([](entry&) {});
    std::string locator; // a zip64 end record locator right before the end record
    ztest::put32(locator, 0x07064B50);
    locator += std::string(16, '\0');
    std::string saturated = plain.bytes;
    ztest::set32(saturated, plain.end_offset + 16, 0xFFFFFFFF);
    ztest::archive local_sizes = with([&](entry& e) { e.local_extra = zip64_block; });
    ztest::set32(local_sizes.bytes, local_sizes.local_offsets[1] + 18, 0xFFFFFFFF);
    ztest::set32(local_sizes.bytes, local_sizes.local_offsets[1] + 22, 0xFFFFFFFF);
    ztest::archive central_offset = plain;
    ztest::set32(central_offset.bytes, plain.central_offsets[1] + 42, 0xFFFFFFFF);
    struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"end record locator",
         plain.bytes.substr(0, plain.end_offset) + locator + plain.bytes.substr(plain.end_offset)},
        {"saturated end record", saturated},
        {"local block, sizes in it (forced zip64)", local_sizes.bytes},
        {"local block under a data descriptor (streamed)", with([&](entry& e) {
                                                               e.flags = 8;
                                                               e.local_extra = zip64_block;
                                                           }).bytes},
        {"central block", with([&](entry& e) { e.central_extra = zip64_block; }).bytes},
        {"central offset in the block", central_offset.bytes},
    };
    for (const auto& c : cases) {
        opened_zip zip(c.bytes);
        EXPECT_EQ(zip.code, ZR_OPEN) << c.what;
        EXPECT_EQ(zip.reader.last_failure().reason, "zip64 is not supported") << c.what;
    }
    EXPECT_EQ(opened_zip(plain.bytes).code, ZR_OK);
}

TEST(ZipReader, IndexesAreCheckedAndTheDirectoryIsWalkedBothWays) {
    std::vector<entry> entries;
    for (int i = 0; i < 5; ++i)
        entries.push_back(ztest::file("e" + std::to_string(i), std::string(i + 1, char('a' + i))));
    entries[2].central_extra = "\x01\x02\x03\x04xyz"; // unknown block: must be stepped over
    opened_zip zip(build(entries).bytes);
    ASSERT_EQ(zip.code, ZR_OK);
    zip_entry_info info;
    EXPECT_EQ(zip.reader.describe(-1, info), ZR_OK);
    EXPECT_EQ(info.index, 5);
    EXPECT_TRUE(info.name.empty());
    EXPECT_EQ(info.write_time, 0);
    EXPECT_EQ(zip.reader.describe(5, info), ZR_ARGS);
    EXPECT_EQ(zip.reader.describe(-2, info), ZR_ARGS);
    std::string out;
    EXPECT_EQ(zip.extract(5, out), ZR_ARGS);
    EXPECT_EQ(zip.extract(-1, out), ZR_ARGS);
    for (int i : {4, 1, 1, 3, 0, 2, 4}) {
        ASSERT_EQ(zip.reader.describe(i, info), ZR_OK) << i;
        EXPECT_EQ(info.index, i);
        EXPECT_EQ(info.name, L"e" + std::to_wstring(i));
        ASSERT_EQ(zip.extract(i, out), ZR_OK);
        EXPECT_EQ(out, entries[i].data);
    }

    memory_source again(zip.data.data(), zip.data.size());
    EXPECT_EQ(zip.reader.open(&again), ZR_ALREADY_OPEN);

    // A broken later directory entry refuses the whole archive: it is walked at open.
    ztest::archive a = build(entries);
    a.bytes[a.central_offsets[3]] = 'X';
    opened_zip broken(a.bytes);
    EXPECT_EQ(broken.code, ZR_OPEN);
    EXPECT_EQ(broken.reader.last_failure().index, 3);

    opened_zip empty(build({}).bytes);
    ASSERT_EQ(empty.code, ZR_OK);
    EXPECT_EQ(empty.reader.entry_count(), 0);
    EXPECT_EQ(empty.reader.describe(-1, info), ZR_OK);
    EXPECT_EQ(info.index, 0);
    EXPECT_EQ(empty.reader.describe(0, info), ZR_ARGS);
}

TEST(ZipReader, NameRules) {
    struct {
        const wchar_t* stored;
        const wchar_t* cleaned;
    } cases[] = {
        {L"plain/name.txt", L"plain/name.txt"},
        {L"C:\\dir\\f.txt", L"dir\\f.txt"},
        {L"C:/x", L"x"},
        {L"/etc/x", L"etc/x"},
        {L"\\\\server\\share\\x", L"server\\share\\x"},
        {L"a\\..\\b", L"b"},
        {L"a\\..\\b\\..\\c", L"c"},
        {L"a\\../b", L"b"},
        {L"a/../b", L"b"},
        {L"a/..\\b", L"b"},
        {L"a/../../b", L"../b"},
        {L"C:\\..\\x", L"..\\x"},
        {L"..\\evil.dll", L"..\\evil.dll"},
        {L"a:b", L"b"},
        {L"ab:c", L"ab:c"},
        {L"C:C:/x", L"x"},
        {L"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(apply_zip_name_rules(c.stored), c.cleaned) << c.stored;
}

TEST(ZipReader, HostileEntryNamesAreRefused) {
    struct {
        const wchar_t* stored;
        bool safe;
    } cases[] = {
        {L"..\\evil.dll", false},
        {L"../x", false},
        {L"a/../../b", false},
        {L"C:\\..\\x", false},
        {L"dir/..", false},
        {L"dir\\..\\..", false},
        {L"...\\x", false},
        {L".. /x", false},
        {L"dir/. ./x", false},
        {L"ab:c", false},
        {L"dir/file.txt:stream", false},
        {L"dir/C:x", false},
        {L"con", false},
        {L"dir/NUL.txt", false},
        {L"Com1", false},
        {L"lpt9.log", false},
        {L"dir/CONOUT$", false},
        {L"wild*card", false},
        {L"what?", false},
        {L"tab\there", false},
        {L"C:/x", true},
        {L"/etc/x", true},
        {L"\\\\server\\share\\x", true},
        {L"a\\..\\b", true},
        {L"./a/./b", true},
        {L"a//b", true},
        {L"dir/", true},
        {L"console.txt", true},
        {L"com10", true},
        {L"..name", true},
        {L"name..", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(is_safe_entry_name(apply_zip_name_rules(c.stored)), c.safe) << c.stored;
    EXPECT_FALSE(is_safe_entry_name(L""));
    EXPECT_TRUE(is_safe_entry_name(std::wstring(k_zip_max_path - 1, L'n')));
    EXPECT_FALSE(is_safe_entry_name(std::wstring(k_zip_max_path, L'n')));
}

TEST(ZipReader, TargetsArePlannedBelowTheBaseFolder) {
    const std::wstring base = L"C:\\base\\";
    using folders = std::vector<std::wstring>;
    struct {
        const wchar_t* target;
        bool is_folder;
        uint32_t code;
        const wchar_t* file;
        folders made;
    } cases[] = {
        {L"f.txt", false, ZR_OK, L"C:\\base\\f.txt", {}},
        {L"a\\b/f.txt", false, ZR_OK, L"C:\\base\\a\\b/f.txt", {L"C:\\base\\a", L"C:\\base\\a\\b"}},
        {L"D:\\x\\y\\f.txt", false, ZR_OK, L"D:\\x\\y\\f.txt", {L"D:\\x", L"D:\\x\\y"}},
        {L"\\top\\f.txt", false, ZR_OK, L"\\top\\f.txt", {L"\\top"}},
        {L"a\\\\f.txt", false, ZR_OK, L"C:\\base\\a\\\\f.txt", {L"C:\\base\\a"}},
        {L"dir/", true, ZR_OK, L"", {L"C:\\base\\dir"}},
        {L"dir/sub", true, ZR_OK, L"", {L"C:\\base\\dir", L"C:\\base\\dir/sub"}},
        {L"D:\\made", true, ZR_OK, L"", {L"D:\\made"}},
        {L"dir/", false, ZR_OPEN, L"", {}},
        {L"..\\x", false, ZR_OPEN, L"", {}},
        {L"a\\..\\..\\x", false, ZR_OPEN, L"", {}},
        {L"C:\\x\\..\\y", false, ZR_OPEN, L"", {}},
        {L"..", true, ZR_OPEN, L"", {}},
        {L"\\\\?\\C:\\x", false, ZR_OPEN, L"", {}},
        {L"\\\\.\\PhysicalDrive0", false, ZR_OPEN, L"", {}},
        {L"C:\\dir\\nul", false, ZR_OPEN, L"", {}},
        {L"file.txt:ads", false, ZR_OPEN, L"", {}},
        {L"", false, ZR_OPEN, L"", {}},
    };
    for (const auto& c : cases) {
        zip_target_plan plan;
        EXPECT_EQ(plan_zip_target(base, c.target, c.is_folder, plan), c.code) << c.target;
        EXPECT_EQ(plan.file_path, c.file) << c.target;
        EXPECT_EQ(plan.folders, c.made) << c.target;
    }
}

TEST(ZipReader, PathsOf260UnitsAreRefused) {
    const std::wstring base = L"C:\\base\\"; // 8 units
    zip_target_plan plan;
    const std::wstring fits(k_zip_max_path - 1 - base.size(), L'f');
    EXPECT_EQ(plan_zip_target(base, fits, false, plan), ZR_OK);
    EXPECT_EQ(plan.file_path.size(), k_zip_max_path - 1);
    EXPECT_EQ(plan_zip_target(base, fits + L"f", false, plan), ZR_OPEN);
    EXPECT_TRUE(plan.file_path.empty());
    EXPECT_EQ(plan_zip_target(base, L"d\\" + fits.substr(2) + L"f", false, plan), ZR_OPEN);
    EXPECT_EQ(plan_zip_target(base, fits + L"f", true, plan), ZR_OPEN);

    const std::wstring absolute_fits = L"D:\\" + std::wstring(k_zip_max_path - 4, L'a');
    EXPECT_EQ(plan_zip_target(base, absolute_fits, false, plan), ZR_OK);
    EXPECT_EQ(plan_zip_target(base, absolute_fits + L"a", false, plan), ZR_OPEN);
}

TEST(ZipReader, AttributesFollowTheHostSystem) {
    struct {
        uint16_t made_by;
        uint32_t external;
        uint32_t expected;
    } cases[] = {
        {0x0014, 0x20, k_attr_archive}, // MS-DOS
        {0x0014, 0x27, k_attr_archive | k_attr_readonly | k_attr_hidden | k_attr_system},
        {0x0014, 0x10, k_attr_directory},
        {0x0714, 0x01, k_attr_readonly},                            // host 7
        {0x0B14, 0x30, k_attr_directory | k_attr_archive},          // NTFS
        {0x0E14, 0x22, k_attr_archive | k_attr_hidden},             // VFAT
        {0x0314, 0100644u << 16, k_attr_archive},                   // Unix, writable
        {0x0314, 0100444u << 16, k_attr_archive | k_attr_readonly}, // Unix, read-only
        {0x0314, (040755u << 16) | 0x10, k_attr_directory | k_attr_archive},
        {0x0314, 0x27, k_attr_archive | k_attr_readonly}, // DOS bits ignored
        {0x1314, 0, k_attr_archive | k_attr_readonly},    // unknown host
    };
    for (const auto& c : cases)
        EXPECT_EQ(zip_attributes(c.made_by, c.external), c.expected)
            << std::hex << c.made_by << " " << c.external;
}

TEST(ZipReader, DosTimesAreLocalTimesConvertedToUtc) {
    auto dos_date = [](int y, int m, int d) { return uint16_t(((y - 1980) << 9) | (m << 5) | d); };
    auto dos_time = [](int h, int m, int s) { return uint16_t((h << 11) | (m << 5) | (s / 2)); };
    struct {
        uint16_t date, time;
        int64_t unix_seconds;
    } cases[] = {
        {dos_date(1980, 1, 1), 0, 315532800},
        {dos_date(2020, 6, 15), dos_time(12, 34, 56), 1592224496},
        {dos_date(2024, 2, 29), dos_time(23, 59, 58), 1709251198},
        {dos_date(2107, 12, 31), dos_time(23, 59, 58), 4354819198},
        {0, 0, 315532800}, // month and day 0, as some tools write: clamped to 1980-01-01
    };
    for (const auto& c : cases)
        EXPECT_EQ(dos_to_filetime(c.date, c.time), ft(c.unix_seconds)) << c.unix_seconds;

    zip_platform nine_hours_east;
    nine_hours_east.local_to_utc = [](int64_t t) -> int64_t {
        return t - int64_t(9) * 3600 * 10000000;
    };
    opened_zip zip(build({ztest::file("a", "a")}).bytes, nine_hours_east);
    zip_entry_info info;
    ASSERT_EQ(zip.reader.describe(0, info), ZR_OK);
    EXPECT_EQ(info.write_time, ft(1592224496 - 9 * 3600));
    EXPECT_EQ(info.access_time, info.write_time);
    EXPECT_EQ(info.creation_time, info.write_time);
}

TEST(ZipReader, ExtendedTimestampsOverrideTheDosTime) {
    const int32_t m = 1600000000, a = 1600000100, c = 1600000200;
    std::string other_block;
    ztest::put16(other_block, 0x000A);
    ztest::put16(other_block, 4);
    other_block += "abcd";
    struct {
        const char* what;
        std::string local_extra, central_extra;
        int64_t write, access, creation;
    } cases[] = {
        {"modification time only", ztest::ut_block(1, m), "", ft(m), k_entry_dos_time,
         k_entry_dos_time},
        {"all three", ztest::ut_block(7, m, a, c), "", ft(m), ft(a), ft(c)},
        {"access time alone", ztest::ut_block(2, 0, a), "", k_entry_dos_time, ft(a),
         k_entry_dos_time},
        {"after another block", other_block + ztest::ut_block(5, m, 0, c), "", ft(m),
         k_entry_dos_time, ft(c)},
        {"before 1970", ztest::ut_block(1, -86400), "", ft(-86400), k_entry_dos_time,
         k_entry_dos_time},
        {"only the first block counts", ztest::ut_block(1, m) + ztest::ut_block(1, a), "", ft(m),
         k_entry_dos_time, k_entry_dos_time},
        {"flags promise more than the block holds",
         ztest::ut_block(1, m).replace(2, 2, std::string("\x05\x00", 2)).replace(4, 1, "\x07"), "",
         ft(m), k_entry_dos_time, k_entry_dos_time},
        {"central field is not read", "", ztest::ut_block(1, m), k_entry_dos_time, k_entry_dos_time,
         k_entry_dos_time},
        {"block runs past the field", ztest::ut_block(1, m).substr(0, 7), "", k_entry_dos_time,
         k_entry_dos_time, k_entry_dos_time},
    };
    for (const auto& t : cases) {
        entry e = ztest::file("t.txt", "time");
        e.local_extra = t.local_extra;
        e.central_extra = t.central_extra;
        opened_zip zip(build({e}).bytes);
        ASSERT_EQ(zip.code, ZR_OK) << t.what;
        zip_entry_info info;
        ASSERT_EQ(zip.reader.describe(0, info), ZR_OK) << t.what;
        EXPECT_EQ(info.write_time, t.write) << t.what;
        EXPECT_EQ(info.access_time, t.access) << t.what;
        EXPECT_EQ(info.creation_time, t.creation) << t.what;
        std::string out;
        EXPECT_EQ(zip.extract(0, out), ZR_OK) << t.what;
        EXPECT_EQ(out, "time") << t.what;
    }
}

TEST(ZipReader, TraditionalEncryptionWithTheEmptyPassword) {
    const std::string data = ztest::text_data(40000);
    auto encrypted = [&](uint16_t method, uint16_t flags, const std::string& password) {
        entry e = ztest::file("secret.txt", data, method);
        e.encrypt = true;
        e.flags = flags;
        e.password = password;
        return e;
    };
    struct {
        const char* what;
        entry e;
        uint32_t expected;
    } cases[] = {
        {"deflated, CRC check byte", encrypted(8, 0, ""), ZR_OK},
        {"stored, CRC check byte", encrypted(0, 0, ""), ZR_OK},
        {"deflated, time check byte", encrypted(8, 8, ""), ZR_OK},
        {"another password", encrypted(8, 0, "secret"), ZR_PASSWORD},
    };
    for (const auto& c : cases) {
        opened_zip zip(build({c.e}).bytes);
        ASSERT_EQ(zip.code, ZR_OK) << c.what;
        std::string out;
        EXPECT_EQ(zip.extract(0, out), c.expected) << c.what;
        if (c.expected == ZR_OK)
            EXPECT_EQ(out, data) << c.what;
        else
            EXPECT_TRUE(out.empty()) << c.what;
    }

    entry too_short = ztest::file("s", "", 0);
    too_short.flags = 1;
    too_short.raw = true;
    too_short.data = "12345";
    too_short.set_crc = true;
    opened_zip zip(build({too_short}).bytes);
    std::string out;
    EXPECT_EQ(zip.extract(0, out), ZR_DATA);
}

TEST(ZipReader, NamesAreDecodedByTheirFlag) {
    entry utf8 = ztest::file("\xed\x95\x9c\xea\xb8\x80/\xe6\x97\xa5.txt", "x"); // 한글/日.txt
    utf8.flags = 0x800;
    entry ansi = ztest::file("\xc7\xd1.txt", "y");
    entry bad_utf8 = ztest::file("a\xff\xc0\x80z", "z");
    bad_utf8.flags = 0x800;

    zip_platform cp949;
    cp949.decode_ansi = [](const std::string& b) {
        return b == "\xc7\xd1.txt" ? std::wstring(L"\xD55C.txt") : std::wstring(L"?");
    };
    opened_zip zip(build({utf8, ansi, bad_utf8}).bytes, cp949);
    zip_entry_info info;
    ASSERT_EQ(zip.reader.describe(0, info), ZR_OK);
    EXPECT_EQ(info.name, L"\xD55C\xAE00/\x65E5.txt");
    ASSERT_EQ(zip.reader.describe(1, info), ZR_OK);
    EXPECT_EQ(info.name, L"\xD55C.txt");
    ASSERT_EQ(zip.reader.describe(2, info), ZR_OK);
    EXPECT_EQ(info.name, L"a\xFFFD\xFFFD\xFFFDz");

    opened_zip latin(build({ansi}).bytes);
    ASSERT_EQ(latin.reader.describe(0, info), ZR_OK);
    EXPECT_EQ(info.name, L"\xC7\xD1.txt");

    // Names decode as every other UTF-8 text: each maximal bad prefix is one U+FFFD.
    EXPECT_EQ(utf8_decode("\xf0\x9f\x98\x80"), sizeof(wchar_t) == 2
                                                   ? std::wstring(L"\xD83D\xDE00")
                                                   : std::wstring(1, wchar_t(0x1F600)));
    EXPECT_EQ(utf8_decode("\xed\xa0\x80"), L"\xFFFD\xFFFD\xFFFD"); // an encoded surrogate
    EXPECT_EQ(utf8_decode("\xe2\x82"), L"\xFFFD");                 // cut short
}

TEST(ZipReader, InfoZipUnicodePathNamesTheEntry) {
    const std::string stored = "\xe6\x97\xa5\xe6\x9c\xac.txt"; // 日本.txt in UTF-8, no flag
    const std::wstring unicode = L"\x65E5\x672C.txt";
    const std::string field = ztest::unicode_path(stored, stored);
    zip_platform code_page;
    code_page.decode_ansi = [](const std::string&) { return std::wstring(L"code page"); };
    struct {
        const char* what;
        std::string central, local;
        uint16_t flags;
        std::wstring expected; // empty: the archive is refused
    } cases[] = {
        {"central field", field, "", 0, unicode},
        {"both fields agree", field, field, 0, unicode},
        {"stale CRC", ztest::unicode_path("other", stored), "", 0, L"code page"},
        {"unknown version", ztest::unicode_path(stored, stored, 2), "", 0, L"code page"},
        {"not UTF-8", ztest::unicode_path(stored, "\xff.txt"), "", 0, L"code page"},
        {"after another block", ztest::ut_block(1, 0) + field, "", 0, unicode},
        {"the flag wins", ztest::unicode_path(stored, "x.txt"), "", 0x800, unicode},
        {"local field differs", field, ztest::unicode_path(stored, "x.txt"), 0, L""},
        {"local field only", "", field, 0, L""},
    };
    for (const auto& c : cases) {
        entry e = ztest::file(stored, "data");
        e.central_extra = c.central;
        e.local_extra = c.local;
        e.flags = c.flags;
        opened_zip zip(build({e}).bytes, code_page);
        zip_entry_info info;
        if (c.expected.empty()) {
            EXPECT_EQ(zip.code, ZR_OPEN) << c.what;
            continue;
        }
        ASSERT_EQ(zip.code, ZR_OK) << c.what;
        ASSERT_EQ(zip.reader.describe(0, info), ZR_OK) << c.what;
        EXPECT_EQ(info.name, c.expected) << c.what;
    }
}

TEST(ZipReader, AFailingSinkIsAWriteError) {
    struct refusing_sink : zip_sink {
        bool write(const void*, size_t) override { return false; }
    } sink;
    opened_zip zip(build({ztest::file("f", "content")}).bytes);
    EXPECT_EQ(zip.reader.extract(0, sink), ZR_WRITE);
}

} // namespace
