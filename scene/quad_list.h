// Quad-list reader: streams a quad-list file (six lines a quad) into a QuadTable, reporting
// progress in 128-byte blocks. Errors are SceneErrors carrying the file and line number.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "scene/scene_types.h"

constexpr int64_t kProgressBlockBytes = 128;

// How the reader reports progress. SetProgressMax is called once, before the first record;
// after every record SetProgressPosition and then ProcessPendingMessages.
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

// Reads the file at `path` into `table` from record 0. On failure the records completed
// before it stay in `table` and `count` covers exactly them; the error propagates.
void ReadQuadList(const std::string& path, QuadTable& table, QuadListProgress& progress);

// One corner line into `corner`, z negated. ReadCornerTokens takes the general route through
// the tokenizer and raises the conversion errors; ReadCornerFast reads the common line of five
// plain numbers in one pass and returns false, leaving `corner` alone, for anything else.
// The reader tries the fast one first; both give the same values where both succeed.
void ReadCornerTokens(std::string_view line, QuadCorner& corner);
bool ReadCornerFast(std::string_view line, QuadCorner& corner);

// The file-name part of `path` (after the last '/'), lower-cased A to Z.
std::string LowerFileName(const std::string& path);
