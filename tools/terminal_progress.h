// A progress line on stderr for long work: only when stderr is a terminal and --quiet was not
// given, only once the work has run for half a second; it shows how much is done of how
// much, the rate and the time left, and is cleared when the work ends. With --progress-fd,
// the same progress as lines for the program that runs this one.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "scene/quad_list.h"
#include "tools/cli.h"

// --quiet: no progress line, whatever stderr is.
void AddQuietOption(CLI::App* command);

// --progress-fd FD: lines "UNIT DONE TOTAL" (UNIT "bytes" or "records", TOTAL 0 while unknown)
// written to the descriptor FD, open for writing (a pipe from the program that runs this one),
// at most ten a second and once at the end of each stage. A reader that falls behind or goes
// away misses lines; the work goes on.
void AddProgressFdOption(CLI::App* command);

class TerminalProgress : public QuadListProgress {
 public:
  enum class Unit { kBytes, kRecords };
  TerminalProgress(std::string what, Unit unit);
  ~TerminalProgress() override;  // clears the line
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;

  void SetTotal(int64_t total) { total_ = total; }
  // Cheap enough to call for every record: the clock is read every so many calls.
  void SetDone(int64_t done);

  // The quad-list reader's reports, in blocks of 128 bytes.
  void SetProgressMax(int32_t blocks) override { total_ = int64_t{blocks} * kProgressBlockBytes; }
  void SetProgressPosition(int32_t blocks) override {
    done_ = int64_t{blocks} * kProgressBlockBytes;
  }
  void ProcessPendingMessages() override { SetDone(done_); }

 private:
  void Draw();
  void Tell();  // the line for --progress-fd

  std::string what_;
  Unit unit_;
  bool enabled_;
  bool piped_;
  int64_t total_ = 0;
  int64_t done_ = 0;
  int callsSinceClock_ = 0;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
  std::chrono::steady_clock::time_point lastTold_;
};
