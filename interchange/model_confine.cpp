// The confinement of the model reader, set up by the reader's process on itself before it
// reads a byte of the model: no descriptor but its own, namespaces of its own with an empty
// root where the kernel lets it have them, limits, no capability, and a seccomp allow-list
// whose dangerous calls are allowed by their arguments (after Chromium's baseline policy).
// x86-64 only: the trap handler reads the registers of the call it answers.
#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <seccomp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "interchange/stages.h"

#if !defined(__x86_64__)
#error "the model reader's system-call filter is written for x86-64"
#endif

namespace {

// Assimp may grow the address space by this much, plus so many bytes for each byte the model's
// folder holds on disk, up to the cap: far more than a real model of that size needs, far less
// than a hostile header can ask for. The base also holds one image of 8192 x 8192 decoded
// twice over (the decoder's copy and the RGBA one), whatever its file's size: a texture of one
// colour compresses to almost nothing, and the viewer takes it.
constexpr uint64_t kAssimpAllowanceBytes = uint64_t(256) << 20;
constexpr uint64_t kOneImageAllowanceBytes = uint64_t(2) * 8192 * 8192 * 4;
constexpr uint64_t kAllowancePerModelByte = 32;
constexpr uint64_t kMaxAllowanceBytes = uint64_t(8) << 30;
// CPU time: a base for every model and more for large ones (Assimp reads a model at tens of MB
// a second, far below this rate), up to the cap.
constexpr uint64_t kCpuSecondsBase = 10;
constexpr uint64_t kModelBytesPerCpuSecond = uint64_t(4) << 20;
constexpr uint64_t kMaxCpuSeconds = 600;
// The wall-clock limit: a reader that waits instead of computing is stopped too.
constexpr uint64_t kWallSecondsPerCpuSecond = 2;
constexpr uint64_t kWallSecondsBase = 10;

// The process's address space, as the kernel counts it against RLIMIT_AS; where /proc is not
// there to say (a chroot without it), as much as a quadscene process holds at most before it
// reads a model.
constexpr uint64_t kAddressSpaceUnknownBytes = uint64_t(1) << 30;
uint64_t AddressSpaceBytes() {
  std::FILE* statm = std::fopen("/proc/self/statm", "re");
  unsigned long long pages = 0;
  if (statm != nullptr) {
    if (std::fscanf(statm, "%llu", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  if (pages == 0) return kAddressSpaceUnknownBytes;
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

// Every descriptor above `last` closed, checked: one left open would be a file the reader may
// read without asking. close_range first; where it fails, one close at a time up to the
// descriptor limit, then a look at each that it is gone.
bool CloseAllAbove(int last) {
  if (::close_range(static_cast<unsigned>(last) + 1, ~0U, 0) == 0) return true;
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) != 0) return false;
  const int end = static_cast<int>(std::min<rlim_t>(files.rlim_cur, 1 << 20));
  int closeError = 0;
  for (int fd = last + 1; fd < end; ++fd) {
    if (::close(fd) != 0 && errno != EBADF) closeError = errno;
  }
  for (int fd = last + 1; fd < end; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0) {
      errno = closeError != 0 ? closeError : EBUSY;
      return false;
    }
  }
  return true;
}

// Own user, mount, network and IPC namespaces, and an empty read-only root: a tmpfs mounted on
// a folder that every root has, made the root with pivot_root, the old root let go. False
// where the kernel refuses (unprivileged user namespaces turned off, a chroot), with `why`.
bool EnterNamespaces(std::string& why) {
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWIPC) != 0) {
    why = std::strerror(errno);
    return false;
  }
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    why = std::string("mount: ") + std::strerror(errno);
    return false;
  }
  for (const char* base : {"/tmp", "/mnt", "/dev", "/proc"}) {
    if (::mount("none", base, "tmpfs", MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC,
                "size=4k,mode=0555") == 0 &&
        ::chdir(base) == 0 && ::syscall(SYS_pivot_root, ".", ".") == 0 &&
        ::umount2(".", MNT_DETACH) == 0 && ::chdir("/") == 0) {
      return true;
    }
  }
  why = std::string("an empty root: ") + std::strerror(errno);
  return false;
}

// Whether the effective set holds `cap`.
bool HoldsCapability(int cap) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3] = {};
  return ::syscall(SYS_capget, &header, sets) == 0 &&
         (sets[cap / 32].effective & (1U << (cap % 32))) != 0;
}

// No capability left: bounding set (where the process may change it: an ordinary user's
// process outside a namespace of its own may not, and then holds nothing the set could give),
// then effective, permitted and inheritable sets, and the ambient set.
bool DropCapabilities() {
  // Up to the kernel's last capability, which may be past the headers' CAP_LAST_CAP.
  constexpr int kMostCapabilities = 64;
  const bool mayDrop = HoldsCapability(CAP_SETPCAP);
  for (int cap = 0; mayDrop && cap < kMostCapabilities; ++cap) {
    if (::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0) {
      if (errno == EINVAL) break;  // past the last
      return false;
    }
  }
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
  return ::syscall(SYS_capset, &header, none) == 0 &&
         ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) == 0;
}

// newfstatat and statx are trapped: a seccomp filter cannot see the path they name, so this
// handler looks. A call on the descriptor itself (an empty path and AT_EMPTY_PATH, what
// fstat() is made of) is answered with the fstat call, which takes no path; statx then says
// ENOSYS, and its callers fall back to fstat. Any path fails with EACCES. The path is never
// handed to the kernel, so changing it after the look changes nothing.
void AnswerTrappedCall(int, siginfo_t* info, void* context) {
  greg_t* regs = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
  const int savedErrno = errno;
  const char* name = reinterpret_cast<const char*>(regs[REG_RSI]);
  const bool onDescriptor = name == nullptr || name[0] == '\0';
  long result = -EACCES;
  if (info->si_syscall == SYS_newfstatat && onDescriptor && (regs[REG_R10] & AT_EMPTY_PATH)) {
    result = ::syscall(SYS_fstat, regs[REG_RDI], regs[REG_RDX]);
    if (result < 0) result = -errno;
  } else if (info->si_syscall == SYS_statx && onDescriptor && (regs[REG_RDX] & AT_EMPTY_PATH)) {
    result = -ENOSYS;
  }
  regs[REG_RAX] = result;
  errno = savedErrno;
}

// The allow-list, grouped by purpose. Everything not named ends the process with SIGSYS.
bool LoadFilter(int channel) {
  scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
  if (filter == nullptr) return false;
  bool ok = true;
  auto rule = [&](uint32_t action, int call, std::initializer_list<scmp_arg_cmp> args = {}) {
    ok = ok && seccomp_rule_add_array(filter, action, call, static_cast<unsigned>(args.size()),
                                      args.begin()) == 0;
  };
  auto allow = [&](std::initializer_list<int> calls) {
    for (int call : calls) rule(SCMP_ACT_ALLOW, call);
  };
  const auto fd = [](int n) { return static_cast<scmp_datum_t>(n); };
  // Reading the descriptors it holds; no new ones but those the channel brings.
  allow({SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64), SCMP_SYS(preadv), SCMP_SYS(lseek),
         SCMP_SYS(close), SCMP_SYS(fstat)});
  rule(SCMP_ACT_ALLOW, SCMP_SYS(recvmsg), {SCMP_A0(SCMP_CMP_EQ, fd(channel))});
  // Writing: to the channel and to stderr (a pipe to the parent) only.
  for (int call : {SCMP_SYS(write), SCMP_SYS(writev), SCMP_SYS(sendto)}) {
    rule(SCMP_ACT_ALLOW, call, {SCMP_A0(SCMP_CMP_EQ, fd(channel))});
    rule(SCMP_ACT_ALLOW, call, {SCMP_A0(SCMP_CMP_EQ, fd(STDERR_FILENO))});
  }
  // Memory, never executable.
  allow({SCMP_SYS(brk), SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(madvise)});
  for (int call : {SCMP_SYS(mmap), SCMP_SYS(mprotect)}) {
    rule(SCMP_ACT_ALLOW, call, {SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)});
  }
  // Time, waiting on its own futexes, facts about itself.
  allow({SCMP_SYS(futex),        SCMP_SYS(sched_yield),     SCMP_SYS(clock_gettime),
         SCMP_SYS(clock_getres), SCMP_SYS(gettimeofday),    SCMP_SYS(time),
         SCMP_SYS(nanosleep),    SCMP_SYS(clock_nanosleep), SCMP_SYS(getpid),
         SCMP_SYS(gettid),       SCMP_SYS(getppid),         SCMP_SYS(getuid),
         SCMP_SYS(geteuid),      SCMP_SYS(getgid),          SCMP_SYS(getegid),
         SCMP_SYS(getrandom),    SCMP_SYS(uname),           SCMP_SYS(sysinfo),
         SCMP_SYS(getrusage),    SCMP_SYS(getrlimit)});
  // Of itself only (0): its CPU set, and its limits read, never set.
  rule(SCMP_ACT_ALLOW, SCMP_SYS(sched_getaffinity), {SCMP_A0(SCMP_CMP_EQ, 0)});
  rule(SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), {SCMP_A0(SCMP_CMP_EQ, 0), SCMP_A2(SCMP_CMP_EQ, 0)});
  // Signals: handlers and masks, and signals to itself only (abort() raises SIGABRT with
  // tgkill); ending itself.
  allow({SCMP_SYS(rt_sigreturn), SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigaction),
         SCMP_SYS(sigaltstack), SCMP_SYS(restart_syscall), SCMP_SYS(exit), SCMP_SYS(exit_group)});
  const scmp_datum_t self = static_cast<scmp_datum_t>(::getpid());
  for (int call : {SCMP_SYS(kill), SCMP_SYS(tgkill), SCMP_SYS(tkill)}) {
    rule(SCMP_ACT_ALLOW, call, {SCMP_A0(SCMP_CMP_EQ, self)});
  }
  // fcntl: the descriptor flags and the status flags, never O_ASYNC (with F_SETOWN and
  // F_SETSIG it signals a chosen process); every other command (owners, leases, notifies,
  // locks, duplicates) fails.
  for (int command : {F_GETFD, F_SETFD, F_GETFL}) {
    rule(SCMP_ACT_ALLOW, SCMP_SYS(fcntl), {SCMP_A1(SCMP_CMP_EQ, fd(command))});
  }
  rule(SCMP_ACT_ALLOW, SCMP_SYS(fcntl),
       {SCMP_A1(SCMP_CMP_EQ, fd(F_SETFL)),
        SCMP_A2(SCMP_CMP_MASKED_EQ, ~static_cast<scmp_datum_t>(O_NONBLOCK | O_APPEND), 0)});
  for (int command : {F_SETOWN, F_SETOWN_EX, F_SETSIG, F_SETLEASE, F_NOTIFY, F_DUPFD,
                      F_DUPFD_CLOEXEC, F_SETLK, F_SETLKW, F_GETLK, F_GETOWN, F_GETOWN_EX}) {
    rule(SCMP_ACT_ERRNO(EPERM), SCMP_SYS(fcntl), {SCMP_A1(SCMP_CMP_EQ, fd(command))});
  }
  // Nothing by name: the file system is asked through the parent. Calls that name a path
  // fail with EACCES, so that a library's probe reads as a file not there; newfstatat and
  // statx go to the trap, which serves those on a descriptor (AnswerTrappedCall).
  for (int call : {SCMP_SYS(open), SCMP_SYS(openat), SCMP_SYS(openat2), SCMP_SYS(stat),
                   SCMP_SYS(lstat), SCMP_SYS(access), SCMP_SYS(faccessat), SCMP_SYS(faccessat2),
                   SCMP_SYS(readlink), SCMP_SYS(readlinkat), SCMP_SYS(statfs), SCMP_SYS(getcwd)}) {
    rule(SCMP_ACT_ERRNO(EACCES), call);
  }
  rule(SCMP_ACT_TRAP, SCMP_SYS(newfstatat));
  rule(SCMP_ACT_TRAP, SCMP_SYS(statx));
  rule(SCMP_ACT_ERRNO(ENOTTY), SCMP_SYS(ioctl));  // isatty
  ok = ok && seccomp_load(filter) == 0;
  seccomp_release(filter);
  return ok;
}

}  // namespace

ReaderLimits ReaderLimitsFor(uint64_t modelBytes) {
  ReaderLimits limits;
  limits.addressSpaceAllowance = std::min(
      kMaxAllowanceBytes, kAssimpAllowanceBytes + kOneImageAllowanceBytes +
                              kAllowancePerModelByte * std::min(modelBytes, kMaxAllowanceBytes));
  limits.cpuSeconds =
      std::min(kMaxCpuSeconds, kCpuSecondsBase + modelBytes / kModelBytesPerCpuSecond);
  limits.wallSeconds = kWallSecondsBase + kWallSecondsPerCpuSecond * limits.cpuSeconds;
  return limits;
}

bool ConfineModelReader(int channel, const ReaderLimits& limits, std::string& layers,
                        std::string& failure) {
  auto fail = [&failure](const char* what) {
    failure = std::string(what) + ": " + std::strerror(errno);
    return false;
  };
  if (!CloseAllAbove(channel)) return fail("cannot close the descriptors it inherited");
  // Measured while /proc is still there.
  const uint64_t addressSpace = AddressSpaceBytes() + limits.addressSpaceAllowance;
  std::string why;
  layers = EnterNamespaces(why) ? "own user, mount, network and IPC namespaces, empty root"
                                : "no namespaces (" + why + ")";
  if (!SetLimit(RLIMIT_AS, addressSpace, addressSpace) ||
      !SetLimit(RLIMIT_CPU, limits.cpuSeconds, limits.cpuSeconds + 1) ||
      !SetLimit(RLIMIT_CORE, 0, 0) || !SetLimit(RLIMIT_FSIZE, 0, 0)) {
    return fail("cannot set its limits");
  }
  if (!DropCapabilities()) return fail("cannot drop its capabilities");
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_DUMPABLE, 0) != 0) {
    return fail("cannot give up new privileges");
  }
  struct sigaction trap {};
  trap.sa_sigaction = AnswerTrappedCall;
  trap.sa_flags = SA_SIGINFO;
  sigemptyset(&trap.sa_mask);
  if (::sigaction(SIGSYS, &trap, nullptr) != 0) return fail("cannot set its trap");
  if (!LoadFilter(channel)) return fail("cannot load its system-call filter");
  layers += ", no capabilities, seccomp allow-list (nothing by name)";
  return true;
}
