#include "zip/zip_crc.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "tests/native/test_zip_writer.h"

namespace {

uint32_t reference(uint32_t crc, const unsigned char* p, size_t n) {
    return static_cast<uint32_t>(crc32(crc, p, static_cast<uInt>(n)));
}

TEST(ZipCrc, AgreesWithZlibForEveryLengthAlignmentAndStart) {
    const std::string noise = ztest::noise_data(4096, 99);
    const auto* bytes = reinterpret_cast<const unsigned char*>(noise.data());
    for (uint32_t start : {0u, 1u, 0xFFFFFFFFu, 0x9E3779B9u})
        for (size_t offset = 0; offset < 16; ++offset)
            for (size_t size = 0; size <= 300; ++size)
                ASSERT_EQ(zip_crc32(start, bytes + offset, size),
                          reference(start, bytes + offset, size))
                    << start << " " << offset << " " << size;
}

TEST(ZipCrc, ChainsAcrossPiecesLikeOneRun) {
    const std::string data = ztest::text_data(200000) + ztest::noise_data(100000);
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    uint32_t crc = 0;
    for (size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 3 % 16411 + 1)
        crc = zip_crc32(crc, bytes + at, std::min(piece, data.size() - at));
    EXPECT_EQ(crc, reference(0, bytes, data.size()));
    EXPECT_EQ(zip_crc32(0, reinterpret_cast<const unsigned char*>("123456789"), 9), 0xCBF43926u);
}

} // namespace
