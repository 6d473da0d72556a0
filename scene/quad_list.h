// Quad-list reader: streams a quad-list file (six lines a quad) into a QuadTable, reporting
// progress in 128-byte blocks. Errors are SceneErrors carrying the file and line number.
#pragma once

#include <cstdint>
#include <string>

#include "scene/scene_types.h"

constexpr int64_t kProgressBlockBytes = 128;
constexpr int kLinesPerRecord = 6;

// How the reader reports progress. SetProgressMax is called once, before the first record;
// after every record SetProgressPosition and then ProcessPendingMessages, and also between
// the pieces of a line too long to hold, so a long scan stays interruptible.
class QuadListProgress {
 public:
  virtual ~QuadListProgress() = default;
  virtual void SetProgressMax(int32_t blocks) = 0;
  virtual void SetProgressPosition(int32_t blocks) = 0;
  virtual void ProcessPendingMessages() = 0;
};

// A progress sink that ignores everything.
class NoProgress : public QuadListProgress {
 public:
  void SetProgressMax(int32_t) override {}
  void SetProgressPosition(int32_t) override {}
  void ProcessPendingMessages() override {}
};

// Threads for ReadQuadList: as many as the processors this process may run on, for a file
// large enough to gain from them (one for a small one).
constexpr int kAutomaticThreads = 0;

// Reads the file at `path` into `table` from record 0. On failure the records completed
// before it stay in `table` and `count` covers exactly them; the error propagates. Running
// out of memory fails with "Not enough memory reading %s". Texture numbers are read as the
// file's name says (TextureNumberOffset), or, given `textureNumberOffset`, read whatever the
// name and shifted by that offset. The read may run on `threads` threads, with the same
// results; progress then reports the position after each run of records the workers finish
// (positions the one-thread read reports too, ending on the same one), and pending messages
// run in between.
void ReadQuadList(const std::string& path, QuadTable& table, QuadListProgress& progress,
                  const int32_t* textureNumberOffset = nullptr, int threads = kAutomaticThreads);

// The file-name part of `path` (after the last '/'), lower-cased A to Z.
std::string LowerFileName(const std::string& path);

// For the file names whose texture numbers are read ("nyc.map", "sanb.map", "miami.map",
// compared lower-cased), the number a file stores for slot 0 (slot = number - offset);
// false for every other name, whose quads all use slot 0.
bool TextureNumberOffset(const std::string& path, int32_t& offset);
