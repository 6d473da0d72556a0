// The parallel reader. Three steps, each on every thread but the caller's:
// 1. the scan counts line ends (CR, LF, CR LF as one) block by block up to the file's end or
//    its first Ctrl+Z, as LineReader splits lines; record r starts after line end 6r;
// 2. the calling thread cuts the records into runs of about kChunkBytes at record starts;
// 3. workers take runs in turn and read each record whose six lines all take the one-pass
//    routes straight into its place; at the first record that does not, a worker leaves the
//    rest of its run to the calling thread, which reads it with ReadRecordRun (the tokenizer,
//    its messages and trace lines live on that thread alone), runs strictly in file order.
// `count` covers records only once every run before them is done, and the table is cut back
// to `count` on any failure, so no record after a failing one is ever kept.
#include "scene/parallel_reader.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "scene/file_access.h"
#include "scene/line_reader.h"
#include "scene/record_reader.h"

namespace {

constexpr int64_t kScanBlockBytes = int64_t(64) << 10;
// Below this size one thread reads as fast as several (starting them costs more).
constexpr int64_t kParallelFileBytes = int64_t(8) << 20;
constexpr int64_t kBytesPerThread = int64_t(4) << 20;
constexpr int64_t kChunkBytes = int64_t(1) << 20;
constexpr int kChunksPerThread = 8;
// What the workers may hold together, whatever their number: a worker's window of the file.
constexpr size_t kWorkerMemoryBytes = size_t(16) << 20;
constexpr size_t kLargestWindowBytes = size_t(1) << 20;
constexpr int kLinesPerRecord = 6;
constexpr char kCtrlZ = 26;
constexpr auto kReportInterval = std::chrono::milliseconds(1);

int32_t Blocks(int64_t bytes) {
  return static_cast<int32_t>(std::min<int64_t>(bytes / kProgressBlockBytes, INT32_MAX));
}

// Line ends of the file's text, counted per scan block.
struct LineMap {
  int64_t end = 0;                  // the file's size, or the offset of its first Ctrl+Z
  std::vector<int64_t> endsBefore;  // per block: line ends before it; one more entry: all
};

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

// Counts the line ends of blocks [first, last) into `counts`, and notes the first Ctrl+Z.
// A CR LF counts once, at its CR, also when the two lie in different blocks.
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

// Where record `record` starts: after line end 6 * record (the file's start for record 0),
// found in the one block that holds that line end.
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

// A run of records and what became of it.
struct Chunk {
  int64_t begin = -1;  // byte offset of its first record, once its worker found it
  int64_t end = -1;    // of the next run's first record, or the text's end
  int64_t firstRecord = 0;
  int64_t endRecord = 0;
  // Set by its worker once: kDone when every record is in the table, kLeft when it left the
  // rest from leftRecord (at leftOffset, -1 when it could not find that) to the calling
  // thread.
  std::atomic<int> state{0};
  int64_t leftRecord = 0;
  int64_t leftOffset = 0;
};
enum ChunkState { kWaiting = 0, kDone = 1, kLeft = 2 };

class Workers {
 public:
  Workers(const std::string& path, const TextureNumbering& numbering, const LineMap& map,
          std::vector<Chunk>& chunks, QuadTable& table, size_t windowBytes)
      : path_(path),
        numbering_(numbering),
        map_(map),
        chunks_(chunks),
        table_(table),
        windowBytes_(windowBytes) {}

  // Takes runs in turn until none is left. A worker that cannot read (no memory for its
  // window, a read error) leaves its runs whole to the calling thread, which meets the same
  // condition and reports it where the record-by-record reader would.
  void Run() {
    std::unique_ptr<InputFile> file;
    std::vector<char> window;
    try {
      file = std::make_unique<InputFile>(path_);
      window.resize(windowBytes_);
    } catch (...) {
      file.reset();
    }
    for (size_t next = taken_++; next < chunks_.size(); next = taken_++) {
      Chunk& chunk = chunks_[next];
      try {
        // Where the run lies, found here: the cuts between runs cost no waiting thread.
        if (file != nullptr) {
          chunk.begin = RecordStart(*file, map_, chunk.firstRecord);
          chunk.end =
              next + 1 == chunks_.size() ? map_.end : RecordStart(*file, map_, chunk.endRecord);
        }
        if (file == nullptr || stop_) {
          Leave(chunk, chunk.firstRecord, chunk.begin);  // possibly unknown: -1
        } else {
          ReadChunk(*file, window, chunk);
        }
      } catch (...) {
        Leave(chunk, chunk.firstRecord, -1);
      }
      std::lock_guard<std::mutex> lock(mutex_);
      finished_.notify_all();
    }
  }

  void Stop() { stop_ = true; }

  // Waits until `chunk` is no longer waiting, or `interval` passed.
  void WaitFor(const Chunk& chunk, std::chrono::milliseconds interval) {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait_for(lock, interval, [&] { return chunk.state.load() != kWaiting; });
  }

 private:
  static void Leave(Chunk& chunk, int64_t record, int64_t offset) {
    chunk.leftRecord = record;
    chunk.leftOffset = offset;
    chunk.state.store(kLeft);
  }

  // Reads the records of `chunk` that take the one-pass routes, through a window of the file.
  void ReadChunk(const InputFile& file, std::vector<char>& window, Chunk& chunk) {
    const bool lastChunk = chunk.end == map_.end;
    int64_t record = chunk.firstRecord;
    int64_t offset = chunk.begin;
    int64_t windowStart = offset, windowEnd = offset;
    while (record < chunk.endRecord) {
      if (stop_) return Leave(chunk, record, offset);
      std::string_view lines[kLinesPerRecord];
      int64_t used = SixLines(window.data() + (offset - windowStart), windowEnd - offset,
                              windowEnd == chunk.end, lastChunk, lines);
      if (used == 0) {
        // Not all in the window: move the window to this record and read on.
        const size_t wanted = static_cast<size_t>(
            std::min<int64_t>(static_cast<int64_t>(window.size()), chunk.end - offset));
        const size_t got = file.ReadAt(static_cast<uint64_t>(offset), window.data(), wanted);
        windowStart = offset;
        windowEnd = offset + static_cast<int64_t>(got);
        if (got < wanted) return Leave(chunk, record, offset);
        used =
            SixLines(window.data(), windowEnd - offset, windowEnd == chunk.end, lastChunk, lines);
      }
      // Straight into its place: a record left half-read there is read again by the caller.
      if (used <= 0 ||
          !ReadRecordFast(lines, numbering_, table_.records[static_cast<size_t>(record)])) {
        return Leave(chunk, record, offset);  // the record-by-record reader takes it from here
      }
      ++record;
      offset += used;
    }
    chunk.state.store(kDone);
  }

  // Splits six whole lines off `bytes`: the bytes they take with their line ends, 0 when
  // more bytes are needed to tell, -1 when the text ends before the sixth (a record cut
  // short, left to the record-by-record reader).
  static int64_t SixLines(const char* bytes, int64_t size, bool atChunkEnd, bool lastChunk,
                          std::string_view (&lines)[kLinesPerRecord]) {
    const char* p = bytes;
    const char* const stop = bytes + size;
    for (std::string_view& line : lines) {
      const char* hit = FindLineBreak(p, stop);
      if (hit == stop) {
        // The file's last line may end without a line end; any other needs more bytes.
        if (!atChunkEnd) return 0;
        if (!lastChunk || p == stop) return -1;
        line = std::string_view(p, static_cast<size_t>(stop - p));
        p = stop;
        continue;
      }
      line = std::string_view(p, static_cast<size_t>(hit - p));
      p = hit + 1;
      if (*hit == '\r') {
        if (p == stop && !atChunkEnd) return 0;  // an LF may follow
        if (p < stop && *p == '\n') ++p;
      }
    }
    return p - bytes;
  }

  const std::string& path_;
  const TextureNumbering& numbering_;
  const LineMap& map_;
  std::vector<Chunk>& chunks_;
  QuadTable& table_;
  size_t windowBytes_;
  std::atomic<size_t> taken_{0};
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable finished_;
};

// Threads that are joined however the caller leaves.
class ThreadGroup {
 public:
  ~ThreadGroup() { Join(); }
  template <typename Work>
  void Start(int count, Work work) {
    for (int i = 0; i < count; ++i) threads_.emplace_back(work, i);
  }
  void Join() {
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
  }

 private:
  std::vector<std::thread> threads_;
};

// Runs `work` on `threads` threads and waits, letting pending messages run every
// kReportInterval. The threads are stopped through `stop` and joined however this ends.
template <typename Work, typename Stop, typename Done>
void RunWhileWaiting(int threads, Work work, Stop stop, Done done, QuadListProgress& progress) {
  ThreadGroup group;
  try {
    group.Start(threads, work);
    while (!done()) {
      std::this_thread::sleep_for(kReportInterval);
      progress.ProcessPendingMessages();
    }
  } catch (...) {
    stop();
    group.Join();
    throw;
  }
  group.Join();
}

}  // namespace

int AvailableReaderThreads() {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  if (::sched_getaffinity(0, sizeof cpus, &cpus) == 0) return std::max(1, CPU_COUNT(&cpus));
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

bool ReadInParallel(const std::string& path, const TextureNumbering& numbering, int threads,
                    QuadTable& table, QuadListProgress& progress) {
  InputFile file(path);
  const int64_t size = file.Size();
  if (threads == kAutomaticThreads) {
    if (size < kParallelFileBytes) return false;
    threads = static_cast<int>(
        std::min<int64_t>(AvailableReaderThreads(), std::max<int64_t>(size / kBytesPerThread, 1)));
  }
  if (threads < 2 || size == 0) return false;
  progress.SetProgressMax(Blocks(size));

  // 1. The scan.
  LineMap map;
  const int64_t blocks = (size + kScanBlockBytes - 1) / kScanBlockBytes;
  std::vector<int64_t> counts(static_cast<size_t>(blocks), 0);
  std::atomic<int64_t> ctrlZ{size};
  const int scanners = static_cast<int>(std::min<int64_t>(threads, blocks));
  std::atomic<int> scanned{0};
  std::atomic<bool> stopScan{false}, scanFailed{false};
  RunWhileWaiting(
      scanners,
      [&](int part) {
        try {
          ScanBlocks(file, size, blocks * part / scanners, blocks * (part + 1) / scanners, counts,
                     ctrlZ, stopScan);
        } catch (...) {
          scanFailed = true;
        }
        ++scanned;
      },
      [&] { stopScan = true; }, [&] { return scanned.load() == scanners; }, progress);
  if (scanFailed) {
    // A read error: the record-by-record reader meets it where it lies and says so.
    RecordRun whole;
    whole.maxAnnounced = true;
    ReadRecordRun(path, whole, numbering, table, progress);
    return true;
  }
  map.end = ctrlZ.load();
  map.endsBefore.assign(counts.size() + 1, 0);
  for (size_t b = 0; b < counts.size(); ++b) {
    const bool beyond = static_cast<int64_t>(b) * kScanBlockBytes >= map.end;
    map.endsBefore[b + 1] = map.endsBefore[b] + (beyond ? 0 : counts[b]);
  }
  const int64_t lineEnds = map.endsBefore.back();

  // 2. The runs: record r starts after line end 6r, while text is left there.
  int64_t records = map.end == 0 ? 0 : lineEnds / kLinesPerRecord + 1;
  if (records > 1 && lineEnds % kLinesPerRecord == 0 &&
      RecordStart(file, map, records - 1) == map.end) {
    --records;
  }
  const int64_t chunkCount = std::min<int64_t>(
      records, std::max<int64_t>(int64_t{threads} * kChunksPerThread, map.end / kChunkBytes));
  std::vector<Chunk> chunks(static_cast<size_t>(chunkCount));
  for (int64_t c = 0; c < chunkCount; ++c) {
    Chunk& chunk = chunks[static_cast<size_t>(c)];
    chunk.firstRecord = records * c / chunkCount;
    chunk.endRecord = records * (c + 1) / chunkCount;
  }
  try {
    table.records.resize(static_cast<size_t>(records));  // touches no page: workers fill them
  } catch (const std::bad_alloc&) {
    // The record-by-record reader grows the table as far as memory lets it, and says so.
    table.records = decltype(table.records)();
    RecordRun whole;
    whole.maxAnnounced = true;
    ReadRecordRun(path, whole, numbering, table, progress);
    return true;
  }

  // 3. The workers, and the runs they leave, in order, on this thread. `count` covers the
  // runs complete so far and, in a run read here, the records read.
  // No window need be larger than the file (a small file read on several threads: the tests').
  const size_t windowBytes =
      std::min({kLargestWindowBytes, kWorkerMemoryBytes / static_cast<size_t>(threads),
                static_cast<size_t>(std::max<int64_t>(map.end, 1))});
  Workers workers(path, numbering, map, chunks, table, windowBytes);
  ThreadGroup group;
  try {
    group.Start(threads, [&workers](int) { workers.Run(); });
    for (Chunk& chunk : chunks) {
      // Waiting, the position stays where the last complete record left it.
      while (chunk.state.load() == kWaiting) {
        workers.WaitFor(chunk, kReportInterval);
        progress.ProcessPendingMessages();
      }
      if (chunk.end < 0) {  // its worker could not read: found here
        chunk.end = &chunk == &chunks.back() ? map.end : RecordStart(file, map, chunk.endRecord);
      }
      if (chunk.state.load() == kLeft) {
        if (chunk.leftOffset < 0) chunk.leftOffset = RecordStart(file, map, chunk.leftRecord);
        table.count = static_cast<int32_t>(chunk.leftRecord);
        if (chunk.leftRecord > chunk.firstRecord) {
          progress.SetProgressPosition(Blocks(chunk.leftOffset));  // after the worker's last
          progress.ProcessPendingMessages();
        }
        RecordRun rest;
        rest.offset = chunk.leftOffset;
        rest.firstRecord = static_cast<int32_t>(chunk.leftRecord);
        rest.endRecord = chunk.endRecord;
        if (ReadRecordRun(path, rest, numbering, table, progress)) break;  // blank lines
      }
      table.count = static_cast<int32_t>(chunk.endRecord);
      progress.SetProgressPosition(Blocks(chunk.end));
      progress.ProcessPendingMessages();
    }
  } catch (...) {
    workers.Stop();
    group.Join();
    table.records.resize(static_cast<size_t>(table.count));  // none after a failure is kept
    throw;
  }
  workers.Stop();
  group.Join();
  table.records.resize(static_cast<size_t>(table.count));
  return true;
}
