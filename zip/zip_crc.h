#pragma once
// CRC-32 of zip entries, as zlib's crc32() computes it (same start value and result), but
// with carry-less multiplication where the processor has it: the check runs over every
// byte extracted, and zlib's table method would cost several percent of the extraction.
#include <cstddef>
#include <cstdint>

uint32_t zip_crc32(uint32_t crc, const unsigned char* data, size_t size);
