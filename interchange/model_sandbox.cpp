// The contained model reader: Assimp, and the stb_image decoding of the textures it names, run
// in a child process that may only compute, read what it is handed and talk to this one. A
// memory-safety bug in a parser of a stranger's file then ends in a message here, never in
// code running with the user's rights, in a hang, or in a runaway of memory.
#include <fcntl.h>
#include <seccomp.h>
#include <signal.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <new>
#include <system_error>

#include "interchange/interchange.h"
#include "scene/scene_error.h"
#include "scene/texture_limits.h"

namespace {

// Assimp may grow the address space by this much, plus so many bytes for each byte the model
// is made of: far more than a real model of that size needs, far less than a hostile header
// can ask for.
constexpr uint64_t kAssimpAllowanceBytes = uint64_t(256) << 20;
constexpr uint64_t kAllowancePerModelByte = 32;
// CPU time for the reader: a base for every model and more for large ones (Assimp reads a
// model at tens of MB a second, far below this rate).
constexpr uint64_t kCpuSecondsBase = 10;
constexpr uint64_t kModelBytesPerCpuSecond = uint64_t(4) << 20;
// The wall-clock limit: a reader that waits instead of computing is stopped too.
constexpr uint64_t kWallSecondsPerCpuSecond = 2;
constexpr uint64_t kWallSecondsBase = 10;
constexpr int kMaxFilesCounted = 4096;
constexpr int kChannelFd = 3;  // the child's end of the channel, once everything else is closed

struct ReaderLimits {
  uint64_t addressSpaceAllowance;
  uint64_t cpuSeconds;
  uint64_t wallSeconds;
  uint64_t textureBudgetBytes;
};

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
    if (entries->is_regular_file(error)) bytes += entries->file_size(error);
  }
  return std::max<uint64_t>(bytes, std::filesystem::file_size(path, error));
}

// The process's address space, as the kernel counts it against RLIMIT_AS.
uint64_t AddressSpaceBytes() {
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  unsigned long long pages = 0;
  if (statm != nullptr) {
    if (std::fscanf(statm, "%llu", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(::sysconf(_SC_PAGE_SIZE));
}

// Lowers a limit to `soft` and `hard`, or to the limit already set where that is lower.
bool SetLimit(int resource, uint64_t soft, uint64_t hard) {
  rlimit limit{};
  if (::getrlimit(resource, &limit) != 0) return false;
  const uint64_t ceiling = limit.rlim_max == RLIM_INFINITY ? UINT64_MAX : limit.rlim_max;
  limit.rlim_cur = static_cast<rlim_t>(std::min(soft, ceiling));
  limit.rlim_max = static_cast<rlim_t>(std::min(hard, ceiling));
  return ::setrlimit(resource, &limit) == 0;
}

// The system calls the reader may make: computing, memory, time, reading from descriptors it
// holds, writing to its channel and to stderr, receiving descriptors on its channel, ending
// itself (also by a signal to itself, as abort() does). Opening files by name, and every
// question about the file system by name, fails with EACCES (it asks the parent instead);
// ioctl fails with ENOTTY (isatty). Everything else ends the process: no new programs,
// processes, threads, sockets or privileges, no writing, renaming or removing of files, no
// executable memory, no tracing.
bool AllowOnlyReading(int channel) {
  scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
  if (filter == nullptr) return false;
  bool ok = true;
  auto rule = [&](uint32_t action, int call, std::initializer_list<scmp_arg_cmp> args = {}) {
    ok = ok && seccomp_rule_add_array(filter, action, call, static_cast<unsigned>(args.size()),
                                      args.begin()) == 0;
  };
  for (int call : {SCMP_SYS(read),
                   SCMP_SYS(readv),
                   SCMP_SYS(pread64),
                   SCMP_SYS(preadv),
                   SCMP_SYS(lseek),
                   SCMP_SYS(close),
                   SCMP_SYS(fstat),
                   SCMP_SYS(brk),
                   SCMP_SYS(munmap),
                   SCMP_SYS(mremap),
                   SCMP_SYS(madvise),
                   SCMP_SYS(futex),
                   SCMP_SYS(sched_yield),
                   SCMP_SYS(clock_gettime),
                   SCMP_SYS(clock_getres),
                   SCMP_SYS(gettimeofday),
                   SCMP_SYS(time),
                   SCMP_SYS(nanosleep),
                   SCMP_SYS(clock_nanosleep),
                   SCMP_SYS(getpid),
                   SCMP_SYS(gettid),
                   SCMP_SYS(getppid),
                   SCMP_SYS(getuid),
                   SCMP_SYS(geteuid),
                   SCMP_SYS(getgid),
                   SCMP_SYS(getegid),
                   SCMP_SYS(rt_sigreturn),
                   SCMP_SYS(rt_sigprocmask),
                   SCMP_SYS(rt_sigaction),
                   SCMP_SYS(sigaltstack),
                   SCMP_SYS(exit),
                   SCMP_SYS(exit_group),
                   SCMP_SYS(getrandom),
                   SCMP_SYS(uname),
                   SCMP_SYS(fcntl),
                   SCMP_SYS(sysinfo),
                   SCMP_SYS(getrusage),
                   SCMP_SYS(sched_getaffinity),
                   SCMP_SYS(restart_syscall),
                   SCMP_SYS(getrlimit)}) {
    rule(SCMP_ACT_ALLOW, call);
  }
  // Memory, never executable.
  for (int call : {SCMP_SYS(mmap), SCMP_SYS(mprotect)}) {
    rule(SCMP_ACT_ALLOW, call, {SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)});
  }
  // fstat() is newfstatat or statx on the descriptor itself (an empty path).
  rule(SCMP_ACT_ALLOW, SCMP_SYS(newfstatat),
       {SCMP_A3(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH)});
  rule(SCMP_ACT_ERRNO(EACCES), SCMP_SYS(newfstatat),
       {SCMP_A3(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, 0)});
  rule(SCMP_ACT_ALLOW, SCMP_SYS(statx),
       {SCMP_A2(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH)});
  rule(SCMP_ACT_ERRNO(EACCES), SCMP_SYS(statx), {SCMP_A2(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, 0)});
  for (int call : {SCMP_SYS(open), SCMP_SYS(openat), SCMP_SYS(stat), SCMP_SYS(lstat),
                   SCMP_SYS(access), SCMP_SYS(faccessat), SCMP_SYS(faccessat2), SCMP_SYS(readlink),
                   SCMP_SYS(readlinkat), SCMP_SYS(getcwd)}) {
    rule(SCMP_ACT_ERRNO(EACCES), call);
  }
  rule(SCMP_ACT_ERRNO(ENOTTY), SCMP_SYS(ioctl));
  // Getting a limit, never setting one.
  rule(SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), {SCMP_A2(SCMP_CMP_EQ, 0)});
  // Writing: to the channel and to stderr only; receiving: descriptors on the channel.
  for (int call : {SCMP_SYS(write), SCMP_SYS(writev), SCMP_SYS(sendto)}) {
    rule(SCMP_ACT_ALLOW, call, {SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(channel))});
    rule(SCMP_ACT_ALLOW, call, {SCMP_A0(SCMP_CMP_EQ, STDERR_FILENO)});
  }
  rule(SCMP_ACT_ALLOW, SCMP_SYS(recvmsg),
       {SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(channel))});
  // Signals to itself only (abort() raises SIGABRT with tgkill).
  const scmp_datum_t self = static_cast<scmp_datum_t>(::getpid());
  rule(SCMP_ACT_ALLOW, SCMP_SYS(tgkill), {SCMP_A0(SCMP_CMP_EQ, self)});
  rule(SCMP_ACT_ALLOW, SCMP_SYS(kill), {SCMP_A0(SCMP_CMP_EQ, self)});
  rule(SCMP_ACT_ALLOW, SCMP_SYS(tkill), {SCMP_A0(SCMP_CMP_EQ, self)});
  ok = ok && seccomp_load(filter) == 0;
  seccomp_release(filter);
  return ok;
}

// The child: contained first, then reading. It never returns, and never unwinds into the
// parent's frames it was forked from: every path ends in _exit, which also skips the stdio
// buffers and exit handlers it shares with the parent.
[[noreturn]] void RunReader(const std::string& path, int channel, const ReaderLimits& limits,
                            pid_t parent) {
  // The parent's handlers remove its unfinished files: not the child's business.
  // SIGXFSZ stays ignored: with a file-size limit of 0, stderr redirected to a file fails
  // to take the reader's messages instead of ending it.
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(signalNumber, SIG_DFL);
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // gone with the parent, however it ends
  if (::getppid() != parent) ::_exit(1);
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0 || ::dup2(null, STDIN_FILENO) < 0 || ::dup2(null, STDOUT_FILENO) < 0 ||
      ::dup2(channel, kChannelFd) < 0) {
    ::_exit(1);
  }
  ::close_range(kChannelFd + 1, ~0U, 0);
  ModelChannel out(kChannelFd);
  const uint64_t addressSpace = AddressSpaceBytes() + limits.addressSpaceAllowance;
  const bool limited = SetLimit(RLIMIT_AS, addressSpace, addressSpace) &&
                       SetLimit(RLIMIT_CPU, limits.cpuSeconds, limits.cpuSeconds + 1) &&
                       SetLimit(RLIMIT_CORE, 0, 0) && SetLimit(RLIMIT_FSIZE, 0, 0) &&
                       ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
                       ::prctl(PR_SET_DUMPABLE, 0) == 0;
  if (!limited || !AllowOnlyReading(kChannelFd)) {
    out.Fail(std::string("cannot contain the model reader: ") + std::strerror(errno), 0);
    ::_exit(1);
  }
  try {
    ImportedScene scene;
    ReadWithAssimp(path, out, limits.textureBudgetBytes, scene, out);
    out.Finish(scene);
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

  // Stops the child unless it has ended already; true when it was still running.
  bool Stop() {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid_) {
      return false;
    }
    ::kill(pid_, SIGKILL);
    return true;
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
// `stopped`: this process stopped it, at the wall-clock limit or when it fell silent.
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

}  // namespace

void ReadModelContained(const std::string& path, const ImportOptions& options, ImportedScene& scene,
                        ImageSink& images) {
  if (!IsRegularFile(path)) throw CannotOpenFile(path);
  const uint64_t modelBytes = BytesOfModel(path);
  ReaderLimits limits{};
  limits.addressSpaceAllowance = kAssimpAllowanceBytes + kAllowancePerModelByte * modelBytes;
  limits.cpuSeconds = kCpuSecondsBase + modelBytes / kModelBytesPerCpuSecond;
  limits.wallSeconds = kWallSecondsBase + kWallSecondsPerCpuSecond * limits.cpuSeconds;
  limits.textureBudgetBytes = TextureBudgetBytes();
  ModelFiles files(path, options.textureFolders);

  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    throw SceneError(std::string("Cannot start the model reader: ") + std::strerror(errno), path);
  }
  std::fflush(nullptr);  // nothing buffered is written twice
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child < 0) {
    const int error = errno;
    ::close(ends[0]);
    ::close(ends[1]);
    throw SceneError(std::string("Cannot start the model reader: ") + std::strerror(error), path);
  }
  if (child == 0) {
    ::close(ends[0]);
    RunReader(path, ends[1], limits, parent);
  }
  ::close(ends[1]);
  ReaderProcess reader(child, ends[0]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limits.wallSeconds);
  const bool answered = ReadModelChannel(ends[0], path, deadline, limits.addressSpaceAllowance,
                                         limits.textureBudgetBytes, files, scene, images);
  // A child without its answer is stopped before it is waited for: one that fell silent
  // waits for nothing that could still come.
  const bool stopped = !answered && reader.Stop();
  reader.Wait();
  if (answered && WIFEXITED(reader.Status()) && WEXITSTATUS(reader.Status()) == 0) return;
  throw SceneError(WhyTheReaderEnded(reader, limits, stopped), path);
}
