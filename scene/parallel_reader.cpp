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

#include "scene/file_access.h"
#include "scene/line_reader.h"
#include "scene/line_scan.h"
#include "scene/record_reader.h"

namespace {

// Below this size one thread reads as fast as several (starting them costs more).
constexpr int64_t kParallelFileBytes = int64_t(8) << 20;
constexpr int64_t kBytesPerThread = int64_t(4) << 20;
constexpr int64_t kChunkBytes = int64_t(1) << 20;
constexpr int kChunksPerThread = 8;
// What the workers may hold together, whatever their number: a worker's window of the file.
constexpr size_t kWorkerMemoryBytes = size_t(16) << 20;
constexpr size_t kLargestWindowBytes = size_t(1) << 20;
constexpr auto kReportInterval = std::chrono::milliseconds(1);

int32_t Blocks(int64_t bytes) {
  return static_cast<int32_t>(std::min<int64_t>(bytes / kProgressBlockBytes, INT32_MAX));
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
