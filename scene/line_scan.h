// The parallel reader's first step: the line ends of a quad-list file's text (CR, LF, and
// CR LF as one, as LineReader splits lines), counted block by block up to the file's end or
// its first Ctrl+Z at the speed of `wc -l`, and where each record starts (after line end 6r).
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "scene/file_access.h"

constexpr int64_t kScanBlockBytes = int64_t(64) << 10;

// Line ends of the file's text, counted per scan block.
struct LineMap {
  int64_t end = 0;                  // the file's size, or the offset of its first Ctrl+Z
  std::vector<int64_t> endsBefore;  // per block: line ends before it; one more entry: all
};

// Counts the line ends of blocks [first, last) of a file of `size` bytes into `counts`, and
// lowers `ctrlZ` to the offset of the first Ctrl+Z it sees; returns early when `stop` is set
// or the blocks lie past a Ctrl+Z already found. A CR LF counts once, at its CR, also when
// the two lie in different blocks.
void ScanBlocks(const InputFile& file, int64_t size, int64_t first, int64_t last,
                std::vector<int64_t>& counts, std::atomic<int64_t>& ctrlZ,
                const std::atomic<bool>& stop);

// Where record `record` starts: after line end 6 * record (the file's start for record 0),
// found in the one block that holds that line end.
int64_t RecordStart(const InputFile& file, const LineMap& map, int64_t record);
