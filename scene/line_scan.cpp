// The line-end scan: 16 or 32 bytes at a time where SSE2 or AVX2 is, and the byte loop for
// the rest.
#include "scene/line_scan.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "scene/line_reader.h"
#include "scene/record_format.h"

namespace {

constexpr char kCtrlZ = 26;

// The line ends in [p, end): CRs, and LFs with no CR before them; `afterCr` tells whether the
// byte before `p` was a CR, and then whether the last one was. The byte loop for the rest.
int64_t CountLineEndsTail(const char* p, const char* end, bool& afterCr) {
  int64_t ends = 0;
  for (; p < end; ++p) {
    if (*p == '\r' || (*p == '\n' && !afterCr)) ++ends;
    afterCr = *p == '\r';
  }
  return ends;
}

// 16 bytes at a time: each byte lane adds one to a counter per line end, the counters summed
// before they can overflow.
constexpr int kRoundsPerSum = 255;

#if defined(__SSE2__)
int64_t CountLineEndsSse2(const char* p, const char* end, bool& afterCr) {
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'), zero = _mm_setzero_si128();
  // Lane 15 of the CRs before: the CR before the first byte.
  __m128i crBefore = afterCr ? _mm_set_epi8(-1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0) : zero;
  int64_t ends = 0;
  const char* const begin = p;
  while (end - p >= 16) {
    __m128i counters = zero;
    for (int round = 0; round < kRoundsPerSum && end - p >= 16; ++round, p += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i crs = _mm_cmpeq_epi8(bytes, cr);
      const __m128i lfs = _mm_cmpeq_epi8(bytes, lf);
      const __m128i previous = _mm_or_si128(_mm_slli_si128(crs, 1), _mm_srli_si128(crBefore, 15));
      counters = _mm_sub_epi8(counters, _mm_or_si128(crs, _mm_andnot_si128(previous, lfs)));
      crBefore = crs;
    }
    const __m128i sums = _mm_sad_epu8(counters, zero);
    ends += _mm_cvtsi128_si64(sums) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums));
  }
  if (p > begin) afterCr = p[-1] == '\r';
  return ends + CountLineEndsTail(p, end, afterCr);
}
#endif

#if defined(__x86_64__)
// The same, 32 bytes at a time, on processors with AVX2.
__attribute__((target("avx2"))) int64_t CountLineEndsAvx2(const char* p, const char* end,
                                                          bool& afterCr) {
  const __m256i cr = _mm256_set1_epi8('\r'), lf = _mm256_set1_epi8('\n');
  const __m256i zero = _mm256_setzero_si256();
  __m256i crBefore = afterCr ? _mm256_set_epi8(-1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                               0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0)
                             : zero;
  int64_t ends = 0;
  const char* const begin = p;
  while (end - p >= 32) {
    __m256i counters = zero;
    for (int round = 0; round < kRoundsPerSum && end - p >= 32; ++round, p += 32) {
      const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
      const __m256i crs = _mm256_cmpeq_epi8(bytes, cr);
      const __m256i lfs = _mm256_cmpeq_epi8(bytes, lf);
      // Each lane's byte before: the CRs shifted by one across the two halves.
      const __m256i previous =
          _mm256_alignr_epi8(crs, _mm256_permute2x128_si256(crBefore, crs, 0x21), 15);
      counters =
          _mm256_sub_epi8(counters, _mm256_or_si256(crs, _mm256_andnot_si256(previous, lfs)));
      crBefore = crs;
    }
    const __m256i sums = _mm256_sad_epu8(counters, zero);
    ends += _mm256_extract_epi64(sums, 0) + _mm256_extract_epi64(sums, 1) +
            _mm256_extract_epi64(sums, 2) + _mm256_extract_epi64(sums, 3);
  }
  if (p > begin) afterCr = p[-1] == '\r';
  return ends + CountLineEndsTail(p, end, afterCr);
}
#endif

int64_t CountLineEnds(const char* p, const char* end, bool& afterCr) {
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) return CountLineEndsAvx2(p, end, afterCr);
#endif
#if defined(__SSE2__)
  return CountLineEndsSse2(p, end, afterCr);
#else
  return CountLineEndsTail(p, end, afterCr);
#endif
}

}  // namespace

void ScanBlocks(const InputFile& file, int64_t size, int64_t first, int64_t last,
                std::vector<int64_t>& counts, std::atomic<int64_t>& ctrlZ,
                const std::atomic<bool>& stop) {
  std::vector<char> block(static_cast<size_t>(kScanBlockBytes));
  bool afterCr = false;
  if (first > 0) {
    char before = 0;
    afterCr = file.ReadAt(static_cast<uint64_t>(first * kScanBlockBytes - 1), &before, 1) == 1 &&
              before == '\r';
  }
  for (int64_t b = first; b < last; ++b) {
    const int64_t at = b * kScanBlockBytes;
    if (stop || at >= ctrlZ.load(std::memory_order_relaxed)) return;  // past the text's end
    size_t got = file.ReadAt(static_cast<uint64_t>(at), block.data(),
                             static_cast<size_t>(std::min(kScanBlockBytes, size - at)));
    const void* z = std::memchr(block.data(), kCtrlZ, got);
    if (z != nullptr) {
      got = static_cast<size_t>(static_cast<const char*>(z) - block.data());
      int64_t seen = ctrlZ.load();
      while (at + static_cast<int64_t>(got) < seen &&
             !ctrlZ.compare_exchange_weak(seen, at + static_cast<int64_t>(got))) {
      }
    }
    counts[static_cast<size_t>(b)] = CountLineEnds(block.data(), block.data() + got, afterCr);
    if (z != nullptr) return;
  }
}

int64_t RecordStart(const InputFile& file, const LineMap& map, int64_t record) {
  const int64_t wanted = record * kLinesPerRecord;
  if (wanted == 0) return 0;
  // The block holding that line end: the last one with fewer ends before it.
  const auto after = std::lower_bound(map.endsBefore.begin(), map.endsBefore.end(), wanted);
  const int64_t block = (after - map.endsBefore.begin()) - 1;
  int64_t left = wanted - map.endsBefore[static_cast<size_t>(block)];
  const int64_t at = block * kScanBlockBytes;
  // From the byte before the block (a CR there makes an LF first in it no line end) to one
  // byte past it (a CR last in it may be the first half of a CR LF).
  const int64_t from = std::max<int64_t>(at - 1, 0);
  std::vector<char> bytes(static_cast<size_t>(kScanBlockBytes) + 2);
  const size_t got =
      file.ReadAt(static_cast<uint64_t>(from), bytes.data(),
                  static_cast<size_t>(std::min(at + kScanBlockBytes + 1, map.end) - from));
  const char* const begin = bytes.data();
  const char* const stop = begin + got;
  const char* p = begin + (at - from);
  if (p > begin && p < stop && p[-1] == '\r' && *p == '\n') ++p;
  for (p = FindLineBreak(p, stop); p < stop; p = FindLineBreak(p, stop)) {
    const bool crLf = *p == '\r' && p + 1 < stop && p[1] == '\n';
    p += crLf ? 2 : 1;
    if (--left == 0) return from + (p - begin);
  }
  return map.end;  // not reached: the map counted that line end
}
