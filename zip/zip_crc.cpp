#include "zip/zip_crc.h"

#include <zlib.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZIP_CRC_CLMUL 1
#endif

namespace {

uint32_t crc_table_method(uint32_t crc, const unsigned char* data, size_t size) {
    while (size > 0) {
        const uInt piece = static_cast<uInt>(size < (1u << 30) ? size : (1u << 30));
        crc = static_cast<uint32_t>(crc32(crc, data, piece));
        data += piece;
        size -= piece;
    }
    return crc;
}

#ifdef ZIP_CRC_CLMUL
// Folding with constants x^(128*4+32), x^(128*4-32), x^(128+32), x^(128-32) mod P (reflected,
// shifted for the 127-bit product), after Intel's "Fast CRC Computation for Generic Polynomials
// Using PCLMULQDQ". The last 128 bits are reduced by the table method.
__attribute__((target("pclmul,sse2"))) inline __m128i fold(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

__attribute__((target("pclmul,sse2"))) inline __m128i load(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

__attribute__((target("pclmul,sse2"))) uint32_t crc_clmul(uint32_t crc, const unsigned char* p,
                                                          size_t n) {
    const __m128i by4 = _mm_set_epi64x(0x1c6e41596LL, 0x154442bd4LL);
    const __m128i by1 = _mm_set_epi64x(0x0ccaa009eLL, 0x1751997d0LL);
    __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(~crc)));
    __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
    p += 64;
    n -= 64;
    while (n >= 64) {
        x0 = fold(x0, by4, load(p));
        x1 = fold(x1, by4, load(p + 16));
        x2 = fold(x2, by4, load(p + 32));
        x3 = fold(x3, by4, load(p + 48));
        p += 64;
        n -= 64;
    }
    x0 = fold(x0, by1, x1);
    x0 = fold(x0, by1, x2);
    x0 = fold(x0, by1, x3);
    while (n >= 16) {
        x0 = fold(x0, by1, load(p));
        p += 16;
        n -= 16;
    }
    alignas(16) unsigned char rest[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(rest), x0);
    // The raw remainder of the folded bits, in zlib's pre- and post-inverted form.
    const uint32_t folded = crc_table_method(0xFFFFFFFFu, rest, sizeof rest);
    return crc_table_method(folded, p, n);
}

bool has_clmul() {
    static const bool supported = __builtin_cpu_supports("pclmul");
    return supported;
}
#endif

} // namespace

uint32_t zip_crc32(uint32_t crc, const unsigned char* data, size_t size) {
#ifdef ZIP_CRC_CLMUL
    if (size >= 64 && has_clmul())
        return crc_clmul(crc, data, size);
#endif
    return crc_table_method(crc, data, size);
}
