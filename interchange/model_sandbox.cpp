// The contained model reader: quadview's own export readers, Assimp and the stb_image decoding
// of the textures a model names, run in a child process that may only compute, read what it
// is handed and talk to this one (model_confine.cpp). A memory-safety bug in a parser of a
// stranger's file then ends in a message here, never in code running with the user's rights,
// in a hang, or in a runaway of memory. Every wait on the child has the wall-clock deadline.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include "interchange/stages.h"
#include "scene/scene_error.h"
#include "scene/texture_limits.h"

namespace {

constexpr int kMaxFilesCounted = 4096;
constexpr int kChannelFd = 3;  // the child's end of the channel, once everything else is closed
constexpr size_t kReaderOutputBytes = size_t(64) << 10;  // of its stderr, the rest dropped
constexpr int kExitPollMilliseconds = 20;
constexpr std::chrono::seconds kGrace(1);

// The bytes a file takes on disk: its blocks, never its apparent size (a sparse file of a
// terabyte takes none), and never more than that size.
uint64_t DiskBytes(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  return std::min<uint64_t>(static_cast<uint64_t>(info.st_size),
                            static_cast<uint64_t>(info.st_blocks) * 512);
}

// Bytes of the model and of the files beside it (a glTF's buffers, an OBJ's materials and
// textures): what reading it may take is bounded by what it is made of.
uint64_t BytesOfModel(const std::string& path) {
  uint64_t bytes = 0;
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::filesystem::directory_iterator entries(folder.empty() ? "." : folder, error);
  int counted = 0;
  for (; !error && entries != std::filesystem::directory_iterator() && counted < kMaxFilesCounted;
       entries.increment(error), ++counted) {
    bytes += DiskBytes(entries->path().string());
  }
  return std::max(bytes, DiskBytes(path));
}

// The child: contained first, then reading. It never returns, and never unwinds into the
// parent's frames it was forked from: every path ends in _exit, which also skips the stdio
// buffers and exit handlers it shares with the parent.
[[noreturn]] void RunReader(const std::string& path, int channel, int said,
                            const ReaderLimits& limits, pid_t parent,
                            const std::function<void(ModelChannel&)>& read) {
  // The parent's handlers remove its unfinished files: not the child's business.
  // SIGXFSZ stays ignored: with a file-size limit of 0, a write past it fails instead of
  // ending the reader.
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) {
    std::signal(signalNumber, SIG_DFL);
  }
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // gone with the parent, however it ends
  if (::getppid() != parent) ::_exit(1);
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0 || ::dup2(null, STDIN_FILENO) < 0 || ::dup2(null, STDOUT_FILENO) < 0 ||
      ::dup2(said, STDERR_FILENO) < 0 || ::dup2(channel, kChannelFd) < 0) {
    ::_exit(1);
  }
  ModelChannel out(kChannelFd);
  std::string layers, failure;
  if (!ConfineModelReader(kChannelFd, limits, layers, failure)) {
    out.Fail("cannot contain the model reader: " + failure, 0);
    ::_exit(1);
  }
  out.Note(layers);
  try {
    read(out);
    ::_exit(0);
  } catch (const SceneError& error) {
    out.Fail(error.what(), error.line());
  } catch (const std::bad_alloc&) {
    out.Fail(NotEnoughMemory(path).what(), 0);
  } catch (const std::exception& error) {
    out.Fail(error.what(), 0);
  }
  ::_exit(1);
}

// The child, killed and reaped however the parent leaves.
class ReaderProcess {
 public:
  ReaderProcess(pid_t pid, int channel) : pid_(pid), channel_(channel) {}
  ~ReaderProcess() {
    ::close(channel_);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }
  ReaderProcess(const ReaderProcess&) = delete;
  ReaderProcess& operator=(const ReaderProcess&) = delete;
  int Channel() const { return channel_; }

  bool Ended() const {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid_;
  }
  // Waits for the child to end, its stderr read meanwhile, no later than `deadline`; then
  // stops it. True when it was still running and had to be stopped.
  bool EndBy(std::chrono::steady_clock::time_point deadline, ReaderOutput& output) {
    while (!Ended()) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        ::kill(pid_, SIGKILL);
        Wait();
        return true;
      }
      pollfd said{output.Fd(), POLLIN, 0};
      if (::poll(&said, said.fd >= 0 ? 1 : 0,
                 static_cast<int>(std::min<int64_t>(left.count(), kExitPollMilliseconds))) > 0) {
        output.Take();
      }
    }
    Wait();
    return false;
  }
  void Wait() {
    while (::wait4(pid_, &status_, 0, &usage_) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
  int Status() const { return status_; }
  double CpuSeconds() const {
    return static_cast<double>(usage_.ru_utime.tv_sec + usage_.ru_stime.tv_sec) +
           static_cast<double>(usage_.ru_utime.tv_usec + usage_.ru_stime.tv_usec) / 1e6;
  }

 private:
  pid_t pid_;
  int channel_;
  int status_ = 0;
  rusage usage_{};
};

// Why the child ended without its answer, in a sentence.
// `stopped`: this process stopped it at the wall-clock limit.
std::string WhyTheReaderEnded(const ReaderProcess& reader, const ReaderLimits& limits,
                              bool stopped) {
  const int status = reader.Status();
  if (WIFSIGNALED(status)) {
    const int signalNumber = WTERMSIG(status);
    if (signalNumber == SIGXCPU ||
        (signalNumber == SIGKILL &&
         reader.CpuSeconds() >= static_cast<double>(limits.cpuSeconds))) {
      return "the model reader stopped after " + std::to_string(limits.cpuSeconds) +
             " s of CPU time";
    }
    if (signalNumber == SIGKILL && stopped) {
      return "the model reader did not finish within " + std::to_string(limits.wallSeconds) +
             " s and was stopped";
    }
    const char* abbreviation = ::sigabbrev_np(signalNumber);
    const std::string name =
        abbreviation != nullptr ? std::string("SIG") + abbreviation : std::to_string(signalNumber);
    if (signalNumber == SIGSYS) {
      return "the model reader was stopped for a system call it may not make (" + name +
             "): the file is damaged or hostile";
    }
    return "the model reader crashed (" + name +
           "): the file is damaged or not in a format Assimp reads";
  }
  return "the model reader ended without an answer (exit status " +
         std::to_string(WEXITSTATUS(status)) + ")";
}

// A pipe or socket pair whose ends close however this leaves.
struct Ends {
  int fd[2] = {-1, -1};
  ~Ends() {
    for (int end : fd) {
      if (end >= 0) ::close(end);
    }
  }
};

}  // namespace

ReaderOutput::ReaderOutput(int fd, std::function<void(const std::string&)> heard)
    : fd_(fd), heard_(std::move(heard)) {}

void ReaderOutput::Take() {
  // One read a call: a reader that writes without end cannot hold this process here.
  char bytes[4096];
  const ssize_t got = ::read(fd_, bytes, sizeof bytes);
  for (ssize_t i = 0; i < got && kept_ < kReaderOutputBytes; ++i, ++kept_) {
    if (bytes[i] != '\n') {
      line_ += bytes[i];
      continue;
    }
    if (heard_) heard_(line_);
    line_.clear();
  }
}

void ReaderOutput::Finish() {
  // What the pipe still holds: at most its 64 KiB once the reader is gone.
  for (int reads = 0; reads < 16; ++reads) Take();
  if (!line_.empty() && heard_) heard_(line_);
  line_.clear();
  if (kept_ >= kReaderOutputBytes && heard_) heard_("(more output dropped)");
}

void RunModelReader(const std::string& path, const ReaderLimits& limits, ModelFileAccess& files,
                    const std::function<void(ModelChannel&)>& read,
                    const std::function<void(const std::string&)>& heard, ImportedScene& scene,
                    ImageSink& images) {
  Ends channel, said;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel.fd) != 0 ||
      ::pipe2(said.fd, O_CLOEXEC) != 0 || ::fcntl(channel.fd[0], F_SETFL, O_NONBLOCK) != 0 ||
      ::fcntl(said.fd[0], F_SETFL, O_NONBLOCK) != 0) {
    throw SceneError(std::string("Cannot start the model reader: ") + std::strerror(errno), path);
  }
  std::fflush(nullptr);  // nothing buffered is written twice
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child < 0) {
    throw SceneError(std::string("Cannot start the model reader: ") + std::strerror(errno), path);
  }
  if (child == 0) RunReader(path, channel.fd[1], said.fd[1], limits, parent, read);
  ::close(channel.fd[1]);
  ::close(said.fd[1]);
  channel.fd[1] = said.fd[1] = -1;
  ReaderProcess reader(child, channel.fd[0]);
  channel.fd[0] = -1;  // the reader's to close
  ReaderOutput output(said.fd[0], heard);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limits.wallSeconds);
  bool answered = false;
  try {
    answered =
        ReadModelChannel(reader.Channel(), path, deadline, limits, files, output, scene, images);
  } catch (const SceneError&) {
    output.Finish();
    throw;
  }
  // A child that answered has until the deadline to end; one without its answer (it crashed,
  // fell silent or hung up) a moment to be seen ending as it did, then it is stopped.
  const bool stopped = reader.EndBy(
      answered ? deadline : std::min(deadline, std::chrono::steady_clock::now() + kGrace), output);
  output.Finish();
  if (answered && !stopped && WIFEXITED(reader.Status()) && WEXITSTATUS(reader.Status()) == 0) {
    return;
  }
  const bool late = std::chrono::steady_clock::now() >= deadline;
  throw SceneError(WhyTheReaderEnded(reader, limits, stopped && late), path);
}

void ReadModelContained(const std::string& path, const ImportOptions& options, ImportedScene& scene,
                        ImageSink& images) {
  if (!IsRegularFile(path)) throw CannotOpenFile(path);
  ReaderLimits limits = ReaderLimitsFor(BytesOfModel(path));
  limits.textureBudgetBytes = TextureBudgetBytes();
  ModelFiles files(path, options.textureFolders);
  const uint64_t budget = limits.textureBudgetBytes;
  RunModelReader(
      path, limits, files,
      [&path, budget](ModelChannel& out) {
        ImportedScene read;
        read.ownExport = ReadOwnExport(path, out, read, out);
        if (!read.ownExport) ReadWithAssimp(path, out, budget, read, out);
        out.Finish(read);
      },
      options.readerSaid, scene, images);
  scene.containment = "address space " + std::to_string(limits.addressSpaceAllowance >> 20) +
                      " MiB above its start, " + std::to_string(limits.cpuSeconds) +
                      " s of CPU time, " + std::to_string(limits.wallSeconds) + " s in all; " +
                      scene.containment;
}
