// The model reader's confinement from inside, as an attacker who already runs code in the
// reader would try it: every class of forbidden call, made after ConfineModelReader, fails
// or ends the process; and the parent's waits on a reader that stalls or stops taking answers
// end at the wall-clock limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/io_uring.h>
#include <linux/sched.h>
#include <seccomp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/personality.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "interchange/stages.h"
#include "scene/scene_error.h"

namespace {

const pid_t kTestPid = ::getpid();  // another process, seen from the reader

class NullImageSink : public ImageSink {
 public:
  void BeginImage(int, int) override {}
  void AddTexels(const uint8_t*, size_t) override {}
  void EndImage() override {}
};

struct ForbiddenCall {
  const char* what;
  std::function<long()> call;
};

const ForbiddenCall kForbiddenCalls[] = {
    {"fcntl F_SETOWN", [] { return ::fcntl(3, F_SETOWN, kTestPid); }},
    {"fcntl F_SETSIG", [] { return ::fcntl(3, F_SETSIG, SIGKILL); }},
    {"fcntl F_SETFL O_ASYNC", [] { return ::fcntl(3, F_SETFL, O_ASYNC); }},
    {"fcntl F_SETLEASE", [] { return ::fcntl(3, F_SETLEASE, F_RDLCK); }},
    {"fcntl F_NOTIFY", [] { return ::fcntl(3, F_NOTIFY, DN_MODIFY); }},
    {"fcntl F_DUPFD", [] { return ::fcntl(3, F_DUPFD, 10); }},
    {"newfstatat by name, AT_EMPTY_PATH",
     [] {
       struct stat info {};
       return ::syscall(SYS_newfstatat, AT_FDCWD, "/etc/passwd", &info, AT_EMPTY_PATH);
     }},
    {"newfstatat by name",
     [] {
       struct stat info {};
       return ::syscall(SYS_newfstatat, AT_FDCWD, "/etc/passwd", &info, 0);
     }},
    {"statx by name, AT_EMPTY_PATH",
     [] {
       struct statx info {};
       return ::syscall(SYS_statx, AT_FDCWD, "/etc/passwd", AT_EMPTY_PATH, STATX_ALL, &info);
     }},
    {"stat",
     [] {
       struct stat info {};
       return ::syscall(SYS_stat, "/etc/passwd", &info);
     }},
    {"access", [] { return ::syscall(SYS_access, "/etc/passwd", R_OK); }},
    {"readlink",
     [] {
       char link[64];
       return ::syscall(SYS_readlink, "/proc/self/exe", link, sizeof link);
     }},
    {"open", [] { return ::syscall(SYS_open, "/etc/passwd", O_RDONLY); }},
    {"openat", [] { return ::syscall(SYS_openat, AT_FDCWD, "/etc/passwd", O_RDONLY); }},
    {"openat2",
     [] {
       uint64_t how[3] = {O_RDONLY, 0, 0};
       return ::syscall(SYS_openat2, AT_FDCWD, "/etc/passwd", how, sizeof how);
     }},
    {"open_by_handle_at",
     [] {
       alignas(8) char handle[64] = {8};
       return ::syscall(SYS_open_by_handle_at, 3, handle, O_RDONLY);
     }},
    {"prlimit64 on pid 1",
     [] {
       rlimit limit{};
       return ::syscall(SYS_prlimit64, 1, RLIMIT_AS, nullptr, &limit);
     }},
    {"prlimit64 raising its own",
     [] {
       const rlimit limit{RLIM_INFINITY, RLIM_INFINITY};
       return ::syscall(SYS_prlimit64, 0, RLIMIT_AS, &limit, nullptr);
     }},
    {"kill of another process", [] { return ::syscall(SYS_kill, kTestPid, 0); }},
    {"tgkill of another process", [] { return ::syscall(SYS_tgkill, kTestPid, kTestPid, 0); }},
    {"kill of its process group", [] { return ::syscall(SYS_kill, 0, 0); }},
    {"sched_getaffinity of another process",
     [] {
       cpu_set_t set;
       return ::syscall(SYS_sched_getaffinity, kTestPid, sizeof set, &set);
     }},
    {"memfd_create", [] { return ::syscall(SYS_memfd_create, "x", 0); }},
    {"io_uring_setup",
     [] {
       io_uring_params params{};
       return ::syscall(SYS_io_uring_setup, 1, &params);
     }},
    {"userfaultfd", [] { return ::syscall(SYS_userfaultfd, 0); }},
    {"clone3",
     [] {
       clone_args args{};
       return ::syscall(SYS_clone3, &args, sizeof args);
     }},
    {"fork", [] { return ::syscall(SYS_fork); }},
    {"execve",
     [] {
       char* const none[] = {nullptr};
       return ::syscall(SYS_execve, "/bin/true", none, none);
     }},
    {"socket", [] { return ::syscall(SYS_socket, AF_INET, SOCK_STREAM, 0); }},
    {"ptrace", [] { return ::syscall(SYS_ptrace, PTRACE_ATTACH, kTestPid, 0, 0); }},
    {"process_vm_readv",
     [] {
       char byte = 0;
       iovec local{&byte, 1}, remote{&byte, 1};
       return ::syscall(SYS_process_vm_readv, kTestPid, &local, 1, &remote, 1, 0);
     }},
    {"personality", [] { return ::syscall(SYS_personality, READ_IMPLIES_EXEC); }},
    {"executable mapping",
     [] {
       return ::syscall(SYS_mmap, nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS,
                        -1, 0);
     }},
    {"executable protection",
     [] {
       static char page[4096] __attribute__((aligned(4096)));
       return ::syscall(SYS_mprotect, page, sizeof page, PROT_READ | PROT_EXEC);
     }},
    {"x32 getpid", [] { return ::syscall(0x40000000 | SYS_getpid); }},
    {"write to a descriptor not its channel", [] { return ::syscall(SYS_write, 1, "x", 1); }},
};

// Runs `call` in a child confined as the model reader is; the child's end: the errno of a
// failed call, kAllowed when it succeeded, or the signal that ended it. `withoutNamespaces`:
// as in a chroot or where user namespaces are turned off (a filter of the test's own makes
// unshare fail), so that the confinement without them is tested on every machine.
constexpr int kAllowed = 200;
int StatusAfterConfinement(const std::function<long()>& call, bool withoutNamespaces = false) {
  int channel[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, channel) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    if (::dup2(channel[1], 3) < 0) ::_exit(1);
    if (withoutNamespaces) {
      scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
      if (seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(unshare), 0) != 0 ||
          ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || seccomp_load(filter) != 0) {
        ::_exit(3);
      }
    }
    std::string layers, failure;
    if (!ConfineModelReader(3, ReaderLimitsFor(0), layers, failure)) ::_exit(2);
    if (withoutNamespaces && layers.rfind("no namespaces (", 0) != 0) ::_exit(4);
    const long result = call();
    ::_exit(result >= 0 ? kAllowed : errno);
  }
  ::close(channel[0]);
  ::close(channel[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

TEST(ModelReaderConfinement, EveryForbiddenCallFailsOrEndsTheReader) {
  for (bool withoutNamespaces : {false, true}) {
    for (const ForbiddenCall& forbidden : kForbiddenCalls) {
      SCOPED_TRACE(std::string(forbidden.what) + (withoutNamespaces ? ", no namespaces" : ""));
      const int status = StatusAfterConfinement(forbidden.call, withoutNamespaces);
      if (WIFSIGNALED(status)) {
        EXPECT_EQ(WTERMSIG(status), SIGSYS);
        continue;
      }
      ASSERT_TRUE(WIFEXITED(status));
      const int code = WEXITSTATUS(status);
      EXPECT_TRUE(code == EACCES || code == EPERM || code == ENOTTY) << "exit status " << code;
    }
  }
}

// What the reader needs still works: fstat on its descriptors (served by the trap) and the
// fcntl flags it sets.
TEST(ModelReaderConfinement, CallsOnItsOwnDescriptorsWork) {
  const std::function<long()> allowed[] = {
      [] {
        struct stat info {};
        return ::fstat(3, &info) == 0 && S_ISSOCK(info.st_mode) ? 0L : -1L;
      },
      [] {
        struct statx info {};
        return ::statx(3, "", AT_EMPTY_PATH, STATX_MODE, &info) == 0 && S_ISSOCK(info.stx_mode)
                   ? 0L
                   : -1L;
      },
      [] { return static_cast<long>(::fcntl(3, F_SETFL, O_NONBLOCK)); },
      [] {
        rlimit limit{};
        return ::syscall(SYS_prlimit64, 0, RLIMIT_AS, nullptr, &limit);
      },
  };
  for (bool withoutNamespaces : {false, true}) {
    for (const auto& call : allowed) {
      const int status = StatusAfterConfinement(call, withoutNamespaces);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kAllowed) << status;
    }
  }
}

// A reader that says all and then does not end, and one that asks for files without ever
// reading the answers, are both stopped at the wall-clock limit.
TEST(ModelReaderConfinement, AStalledReaderIsStoppedAtTheWallClockLimit) {
  const std::function<void(ModelChannel&)> stalls[] = {
      [](ModelChannel& out) {
        out.Finish(ImportedScene());
        for (;;) ::sleep(1000);
      },
      [](ModelChannel& out) {
        const char question[] = {11, 1, 0, 0, 0, 'x'};  // kExists "x"
        while (::write(out.Fd(), question, sizeof question) > 0) {
        }
      },
  };
  for (const auto& stall : stalls) {
    ReaderLimits limits = ReaderLimitsFor(0);
    limits.wallSeconds = 2;
    limits.textureBudgetBytes = 1 << 20;
    ModelFiles files("/nonexistent/model.obj", {});
    ImportedScene scene;
    NullImageSink images;
    try {
      RunModelReader("model.obj", limits, files, stall, nullptr, scene, images);
      ADD_FAILURE() << "the reader was not stopped";
    } catch (const SceneError& error) {
      EXPECT_EQ(FormatDiagnostic(error),
                "model.obj: the model reader did not finish within 2 s and was stopped");
    }
  }
}

// The reader's stderr reaches the parent a line at a time, at most 64 KiB of it.
TEST(ModelReaderConfinement, TheReadersStderrComesThroughBounded) {
  std::vector<std::string> heard;
  const std::string line = "\x1b]0;title\x07" + std::string(1000, 'x');
  ReaderLimits limits = ReaderLimitsFor(0);
  limits.textureBudgetBytes = 1 << 20;
  ModelFiles files("/nonexistent/model.obj", {});
  ImportedScene scene;
  NullImageSink images;
  RunModelReader(
      "model.obj", limits, files,
      [&line](ModelChannel& out) {
        const std::string withBreak = line + "\n";
        for (int i = 0; i < 100; ++i) {
          if (::write(STDERR_FILENO, withBreak.data(), withBreak.size()) < 0) break;
        }
        out.Finish(ImportedScene());
      },
      [&heard](const std::string& said) { heard.push_back(said); }, scene, images);
  // The whole lines within 64 KiB, the part of the next, and the note.
  ASSERT_EQ(heard.size(), 65536 / (line.size() + 1) + 2);
  EXPECT_EQ(heard[0], line);
  EXPECT_EQ(heard.back(), "(more output dropped)");
}

}  // namespace
