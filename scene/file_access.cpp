// Checked file access with POSIX calls. Reading opens with O_NONBLOCK so that a FIFO or a
// device cannot block the open, then refuses anything that is not a regular file.
#include "scene/file_access.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "scene/scene_error.h"

namespace {

constexpr size_t kOutputBufferBytes = size_t(1) << 20;
constexpr mode_t kNewFileMode = 0666;  // before the umask, as open(O_CREAT) would make it

mode_t CurrentUmask() {
  static const mode_t mask = [] {
    const mode_t current = ::umask(0);
    ::umask(current);
    return current;
  }();
  return mask;
}

// The paths RemoveUnfinishedFiles removes. A signal handler reads them, so they live in a
// fixed table of lock-free atomic pointers; the strings are allocated outside the handler.
// The table holds a full texture set of an import and the files around it; a path that finds
// no free place is simply not removed on a signal.
constexpr int kUnfinishedSlots = 2048;
std::atomic<char*> unfinishedPaths[kUnfinishedSlots];
static_assert(std::atomic<char*>::is_always_lock_free, "read from a signal handler");

int HoldUnfinished(const std::string& path) {
  char* copy = ::strdup(path.c_str());
  if (copy == nullptr) return -1;
  for (int slot = 0; slot < kUnfinishedSlots; ++slot) {
    char* expected = nullptr;
    if (unfinishedPaths[slot].compare_exchange_strong(expected, copy)) return slot;
  }
  std::free(copy);
  return -1;
}

void ReleaseUnfinished(int slot) {
  if (slot >= 0) std::free(unfinishedPaths[slot].exchange(nullptr));
}

// Holds back Ctrl+C, Ctrl+\, SIGTERM and SIGHUP while it lives: one that comes meanwhile is
// delivered, not lost, when it ends. Around a file's making and its taking into the table, and
// around the renames into place, so that a signal never finds a file made and not yet known.
class EndingSignalsHeld {
 public:
  EndingSignalsHeld() {
    sigset_t ending;
    sigemptyset(&ending);
    for (int signalNumber : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) sigaddset(&ending, signalNumber);
    ::sigprocmask(SIG_BLOCK, &ending, &previous_);
  }
  ~EndingSignalsHeld() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  EndingSignalsHeld(const EndingSignalsHeld&) = delete;
  EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string LowerExtension(const std::string& path) {
  const std::string name = FileNameOf(path);
  const size_t dot = name.rfind('.');
  std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return extension;
}

bool IsRegularFile(const std::string& path) {
  return NotARegularFileBecause(path).empty();
}

std::string NotARegularFileBecause(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return "no such file";
    return std::strerror(errno);
  }
  if (S_ISREG(info.st_mode)) return std::string();
  return S_ISDIR(info.st_mode) ? "a folder" : "not a regular file";
}

int OpenRegularFile(const std::string& path, bool followLink) {
  const int fd = ::open(
      path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (followLink ? 0 : O_NOFOLLOW));
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  // Regular files never block; reads then behave as on any descriptor.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

InputFile::InputFile(const std::string& path) : InputFile(OpenRegularFile(path), path) {}

InputFile::InputFile(int fd, const std::string& path) : path_(path), fd_(fd) {
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    throw CannotOpenFile(path);
  }
  size_ = static_cast<int64_t>(info.st_size);
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

size_t InputFile::Read(void* out, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(fd_, static_cast<char*>(out) + done, count - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw CannotReadFile(path_, errno);
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

void InputFile::Seek(uint64_t offset) {
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) throw CannotReadFile(path_, errno);
}

size_t InputFile::ReadAt(uint64_t offset, void* out, size_t count) const {
  size_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(fd_, static_cast<char*>(out) + done, count - done,
                                static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw CannotReadFile(path_, errno);
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

OutputFile::OutputFile(const std::string& path) : path_(path), finalPath_(path) {
  struct stat target {};
  const bool exists = ::stat(path.c_str(), &target) == 0;
  if (exists && S_ISDIR(target.st_mode)) Fail(EISDIR);
  if (exists && !S_ISREG(target.st_mode)) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) Fail(errno);
    buffer_.reserve(kOutputBufferBytes);
    return;
  }
  struct stat link {};
  if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && exists) {
    // Writing through a symbolic link replaces the file it names, not the link.
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) finalPath_ = resolved;
  }
  std::string pattern = FolderOf(finalPath_) + "." + FileNameOf(finalPath_) + ".XXXXXX";
  int makeError = 0;
  {
    const EndingSignalsHeld held;
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ >= 0) tempSlot_ = HoldUnfinished(pattern);
    if (fd_ < 0) makeError = errno;
  }
  if (fd_ < 0) Fail(makeError);
  tempPath_ = pattern;
  const mode_t mode = exists ? (target.st_mode & 07777) : (kNewFileMode & ~CurrentUmask());
  ::fchmod(fd_, mode);
  buffer_.reserve(kOutputBufferBytes);
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
  ReleaseUnfinished(tempSlot_);
}

void OutputFile::Fail(int errorNumber) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
  tempPath_.clear();
  ReleaseUnfinished(tempSlot_);
  tempSlot_ = -1;
  throw SceneError("Cannot write file " + path_ + ": " + std::strerror(errorNumber));
}

void OutputFile::Write(const void* data, size_t size) {
  if (fd_ < 0) Fail(EBADF);
  const char* bytes = static_cast<const char*>(data);
  if (buffer_.size() + size > kOutputBufferBytes) Flush();
  if (size >= kOutputBufferBytes) {
    WriteAll(bytes, size);  // large blocks go out in one piece, not through the buffer
    return;
  }
  buffer_.insert(buffer_.end(), bytes, bytes + size);
}

void OutputFile::WriteAll(const char* bytes, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t put = ::write(fd_, bytes + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) Fail(errno);
    if (put == 0) Fail(ENOSPC);
    done += static_cast<size_t>(put);
  }
}

void OutputFile::Flush() {
  WriteAll(buffer_.data(), buffer_.size());
  buffer_.clear();
}

void OutputFile::Finish() {
  if (finished_) return;
  if (fd_ < 0) Fail(EBADF);
  Flush();
  buffer_ = std::vector<char>();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Fail(errno);
  finished_ = true;
}

void OutputFile::Commit() {
  Finish();
  if (tempPath_.empty()) return;
  if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) Fail(errno);
  tempPath_.clear();
  ReleaseUnfinished(tempSlot_);
  tempSlot_ = -1;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  InputFile file(path);
  std::vector<uint8_t> bytes(static_cast<size_t>(file.Size()));
  bytes.resize(file.ReadAt(0, bytes.data(), bytes.size()));
  return bytes;
}

void CopyFileInto(const InputFile& file, OutputFile& out) {
  constexpr size_t kCopyRunBytes = 1 << 20;
  std::vector<uint8_t> run(kCopyRunBytes);
  for (uint64_t at = 0;;) {
    const size_t got = file.ReadAt(at, run.data(), run.size());
    if (got == 0) break;
    out.Write(run.data(), got);
    at += got;
  }
}

void WriteWholeFile(const std::string& path, const void* bytes, size_t size) {
  OutputFile file(path);
  file.Write(bytes, size);
  file.Commit();
}

bool SameFileNode(const std::string& a, const std::string& b) {
  struct stat aStatus {
  }, bStatus{};
  return ::stat(a.c_str(), &aStatus) == 0 && ::stat(b.c_str(), &bStatus) == 0 &&
         aStatus.st_dev == bStatus.st_dev && aStatus.st_ino == bStatus.st_ino;
}

bool WriteNewFile(const std::string& path, const void* bytes, size_t size) {
  constexpr mode_t kNewFileMode = 0666;  // less the umask
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
  if (fd < 0 && errno == EEXIST) return false;
  const auto failed = [&path](int errorNumber) {
    return SceneError("Cannot write file " + path + ": " + std::strerror(errorNumber));
  };
  if (fd < 0) throw failed(errno);
  const char* at = static_cast<const char*>(bytes);
  for (size_t left = size; left > 0;) {
    const ssize_t written = ::write(fd, at, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int errorNumber = written < 0 ? errno : EIO;
      ::close(fd);
      ::unlink(path.c_str());
      throw failed(errorNumber);
    }
    at += written;
    left -= static_cast<size_t>(written);
  }
  if (::close(fd) != 0) {
    const int errorNumber = errno;
    ::unlink(path.c_str());
    throw failed(errorNumber);
  }
  return true;
}

OutputFileSet::~OutputFileSet() {
  files_.clear();  // each removes its temporary file unless it was renamed into place
  if (!committed_) {
    for (auto folder = newFolders_.rbegin(); folder != newFolders_.rend(); ++folder) {
      ::rmdir(folder->c_str());  // only when empty: a file renamed into it stays
    }
  }
  for (int slot : folderSlots_) ReleaseUnfinished(slot);
}

OutputFile& OutputFileSet::Add(const std::string& path) {
  files_.push_back(std::make_unique<OutputFile>(path));
  return *files_.back();
}

void OutputFileSet::MakeFolder(const std::string& folder) {
  std::vector<std::string> missing;
  for (std::filesystem::path at = folder; !at.empty() && !std::filesystem::exists(at);
       at = at.parent_path()) {
    if (at.filename().empty()) continue;  // the trailing '/' of "out/nyc/"
    missing.insert(missing.begin(), at.string());
  }
  std::error_code error;
  {
    const EndingSignalsHeld held;
    std::filesystem::create_directories(folder, error);
    for (const std::string& made : missing) {
      if (error && !std::filesystem::exists(made)) break;
      newFolders_.push_back(made);
      folderSlots_.push_back(HoldUnfinished(made));
    }
  }
  if (error) throw SceneError("Cannot create folder " + folder + ": " + error.message());
}

void OutputFileSet::Commit(const std::vector<std::string>& obsolete) {
  for (const std::unique_ptr<OutputFile>& file : files_) file->Finish();
  // A signal that comes now is delivered once every rename is done, and finds nothing
  // unfinished to remove.
  const EndingSignalsHeld held;
  for (size_t i = 1; i < files_.size(); ++i) files_[i]->Commit();
  if (!files_.empty()) files_.front()->Commit();
  committed_ = true;
  for (const std::string& old : obsolete) {
    if (::unlink(old.c_str()) != 0 && errno != ENOENT) {
      throw SceneError("Cannot remove file " + old + ": " + std::strerror(errno));
    }
  }
}

void RemoveUnfinishedFiles() {
  // unlink() fails on a folder and rmdir() on a file, so two passes remove files first and
  // then the folders they emptied, inner folders (held later) before outer ones.
  for (std::atomic<char*>& slot : unfinishedPaths) {
    if (const char* path = slot.load()) ::unlink(path);
  }
  for (int slot = kUnfinishedSlots - 1; slot >= 0; --slot) {
    if (const char* path = unfinishedPaths[slot].load()) ::rmdir(path);
  }
}
