#include "port/crc32_update.h"

#include <zlib.h>

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define DDB_CARRYLESS_CRC 1
#endif

namespace data_daemon_bridge::port {

namespace {

// zlib works on the finished checksum (the inverted register) and answers an empty buffer given
// as a null pointer with its own initial value, so an empty part is answered here.
uint32_t table_update(uint32_t reg, const uint8_t* bytes, size_t n) {
  if (n == 0) return reg;
  return ~static_cast<uint32_t>(crc32_z(~reg, bytes, n));
}

#if defined(DDB_CARRYLESS_CRC)

// Below this the setup costs more than the folding saves.
constexpr size_t kFoldFrom = 256;

// The bytes as a polynomial over GF(2), the first bit the highest term; the register's value
// after them is that polynomial times x^32 modulo P, the CRC's polynomial. So a 16-byte block B
// followed by D bits may be replaced by any 128-bit value congruent to B·x^D modulo P, put
// where those D bits end, without changing the register. With the block's first 8 bytes as L
// and the rest as H, B·x^D = L·x^(D+64) + H·x^D: two 64 × 32-bit carry-less products of L and
// H with x^(D+64) and x^D reduced modulo P. In the reflected bit order a 64 × 64-bit product
// comes out one place short, so the constants are x^(D+63) and x^(D-1) modulo P, reflected into
// the upper half of a 64-bit lane.
struct FoldBy {
  int64_t first_half;   // x^(D+63) mod P
  int64_t second_half;  // x^(D-1) mod P
};
constexpr FoldBy kFold512 = {0x653d982200000000, static_cast<int64_t>(0xcad38e8f00000000)};
constexpr FoldBy kFold384 = {0x69ccfc0d00000000, 0x2a28386200000000};
constexpr FoldBy kFold256 = {static_cast<int64_t>(0x9570d49500000000), 0x01b5fd1d00000000};
constexpr FoldBy kFold128 = {0x65673b4600000000, static_cast<int64_t>(0x9ba54c6f00000000)};

__attribute__((target("pclmul,sse2"))) __m128i fold(__m128i block, FoldBy by) {
  const __m128i k = _mm_set_epi64x(by.second_half, by.first_half);
  return _mm_xor_si128(_mm_clmulepi64_si128(block, k, 0x00), _mm_clmulepi64_si128(block, k, 0x11));
}

__attribute__((target("pclmul,sse2"))) __m128i load(const uint8_t* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// REQUIRES: n >= 64.
__attribute__((target("pclmul,sse2"))) uint32_t carryless_update(uint32_t reg, const uint8_t* at,
                                                                 size_t n) {
  // Feeding the register is the same as XOR-ing it into the first four bytes and starting from 0.
  __m128i acc[4] = {_mm_xor_si128(load(at), _mm_cvtsi32_si128(static_cast<int>(reg))),
                    load(at + 16), load(at + 32), load(at + 48)};
  at += 64;
  n -= 64;
  // Four independent blocks a step, so that the multiplier's latency overlaps.
  for (; n >= 64; at += 64, n -= 64) {
    for (int i = 0; i < 4; ++i) acc[i] = _mm_xor_si128(fold(acc[i], kFold512), load(at + 16 * i));
  }
  __m128i folded = _mm_xor_si128(_mm_xor_si128(fold(acc[0], kFold384), fold(acc[1], kFold256)),
                                 _mm_xor_si128(fold(acc[2], kFold128), acc[3]));
  for (; n >= 16; at += 16, n -= 16) folded = _mm_xor_si128(fold(folded, kFold128), load(at));
  // What is left, at most 31 bytes, goes through the table from a register of 0.
  uint8_t rest[32];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), folded);
  std::memcpy(rest + 16, at, n);
  return table_update(0, rest, 16 + n);
}

bool has_carryless_multiply() {
  static const bool has = __builtin_cpu_supports("pclmul");
  return has;
}

#endif

}  // namespace

uint32_t crc32_register_update(uint32_t reg, std::span<const uint8_t> bytes) {
#if defined(DDB_CARRYLESS_CRC)
  if (bytes.size() >= kFoldFrom && has_carryless_multiply()) {
    return carryless_update(reg, bytes.data(), bytes.size());
  }
#endif
  return table_update(reg, bytes.data(), bytes.size());
}

}  // namespace data_daemon_bridge::port
