// What the quad-list reader's entry (quad_list.h), its parts (the record-by-record and the
// parallel reader) and its callers share: the progress interface with its block size, and the
// automatic thread count. Holds no code of its own, so the parts need not include the entry.
#pragma once

#include <cstdint>

constexpr int64_t kProgressBlockBytes = 128;

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
