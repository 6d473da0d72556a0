// The progress line: carriage return, the text cut to the terminal's width, and an erase at
// the end, so the shell's prompt finds a clean line.
#include "tools/terminal_progress.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>

namespace {

constexpr auto kShowAfter = std::chrono::milliseconds(500);
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr int kCallsPerClockRead = 1024;
constexpr double kMegabyte = 1e6;

bool quiet = false;
int progressFd = -1;  // --progress-fd; -1: none

int TerminalWidth() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// "45.2" (megabytes) or "1389568" (records), without the unit.
std::string Number(double value, TerminalProgress::Unit unit) {
  char text[32];
  if (unit == TerminalProgress::Unit::kBytes) {
    std::snprintf(text, sizeof text, "%.1f", value / kMegabyte);
  } else {
    std::snprintf(text, sizeof text, "%.0f", value);
  }
  return text;
}

const char* UnitName(TerminalProgress::Unit unit) {
  return unit == TerminalProgress::Unit::kBytes ? "MB" : "records";
}

}  // namespace

void AddQuietOption(CLI::App* command) {
  command->add_flag_callback(
      "--quiet", [] { quiet = true; }, "No progress line on stderr, even on a terminal");
}

void AddProgressFdOption(CLI::App* command) {
  command
      ->add_option_function<int>(
          "--progress-fd",
          [](const int& fd) {
            const int flags = ::fcntl(fd, F_GETFL);
            if (fd < 0 || flags < 0 || (flags & O_ACCMODE) == O_RDONLY) {
              throw CLI::ValidationError("--progress-fd",
                                         std::to_string(fd) + " is no descriptor open for writing");
            }
            progressFd = fd;
          },
          "Write progress to the descriptor FD, a line at most ten times a second: \"bytes DONE "
          "TOTAL\" while reading, \"records DONE TOTAL\" while writing (for a program that runs "
          "this one)")
      ->type_name("FD");
}

TerminalProgress::TerminalProgress(std::string what, Unit unit)
    : what_(std::move(what)),
      unit_(unit),
      enabled_(!quiet && ::isatty(STDERR_FILENO) == 1),
      piped_(progressFd >= 0),
      start_(std::chrono::steady_clock::now()),
      lastDraw_(start_),
      lastTold_(start_) {}

TerminalProgress::~TerminalProgress() {
  if (piped_) Tell();
  if (shown_) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }
}

void TerminalProgress::SetDone(int64_t done) {
  done_ = done;
  if ((!enabled_ && !piped_) || ++callsSinceClock_ < kCallsPerClockRead) return;
  callsSinceClock_ = 0;
  const auto now = std::chrono::steady_clock::now();
  if (piped_ && now - lastTold_ >= kRedrawEvery) {
    lastTold_ = now;
    Tell();
  }
  if (!enabled_ || now - start_ < kShowAfter || now - lastDraw_ < kRedrawEvery) return;
  lastDraw_ = now;
  Draw();
}

void TerminalProgress::Tell() {
  char line[80];
  const int length = std::snprintf(line, sizeof line, "%s %lld %lld\n",
                                   unit_ == Unit::kBytes ? "bytes" : "records",
                                   static_cast<long long>(done_), static_cast<long long>(total_));
  // Never held up by a reader that is slow, nor stopped by one that has gone, and the
  // descriptor, which others may share, left as it is (no O_NONBLOCK): a line is written only
  // when the pipe has room for it (a pipe that polls writable takes a short line whole), and
  // the SIGPIPE of a closed one is held back and taken. A line skipped is made up by the next.
  pollfd room{progressFd, POLLOUT, 0};
  if (::poll(&room, 1, 0) != 1 || (room.revents & POLLOUT) == 0) return;
  sigset_t brokenPipe, before;
  sigemptyset(&brokenPipe);
  sigaddset(&brokenPipe, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &brokenPipe, &before);
  const ssize_t written = ::write(progressFd, line, static_cast<size_t>(length));
  if (written < 0 && errno == EPIPE) {
    const timespec now{};
    ::sigtimedwait(&brokenPipe, nullptr, &now);
  }
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

void TerminalProgress::Draw() {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(done_) / seconds : 0;
  // "reading nyc.map: 45.2 of 200.8 MB (22%), 350.0 MB/s, 0 s left"
  std::string line = what_ + ": " + Number(static_cast<double>(done_), unit_);
  if (total_ > 0) {
    const double fraction = std::min(1.0, static_cast<double>(done_) / static_cast<double>(total_));
    const double left = rate > 0 ? static_cast<double>(total_ - done_) / rate : 0;
    char text[64];
    std::snprintf(text, sizeof text, " (%.0f%%)", fraction * 100);
    line += " of " + Number(static_cast<double>(total_), unit_) + " " + UnitName(unit_) + text +
            ", " + Number(rate, unit_) + " " + UnitName(unit_) + "/s, " +
            std::to_string(static_cast<long long>(std::max(0.0, left) + 0.5)) + " s left";
  } else {
    line += std::string(" ") + UnitName(unit_) + ", " + Number(rate, unit_) + " " +
            UnitName(unit_) + "/s";
  }
  line.resize(std::min(line.size(), static_cast<size_t>(TerminalWidth() - 1)));
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  shown_ = true;
}
