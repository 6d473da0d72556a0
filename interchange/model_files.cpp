// The files a model may read, and Assimp's access to them. Paths are made canonical ("../"
// and symbolic links resolved) before they are compared with the allowed folders, so neither
// leads out of them; the file is then opened beneath the allowed folder's own descriptor,
// never leaving it (openat2 with RESOLVE_BENEATH), so that a link swapped in after the check
// opens nothing outside. Files open only when regular (a FIFO or a device named by a model
// never blocks the reader).
#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <assimp/IOStream.hpp>
#include <assimp/IOSystem.hpp>
#include <cstring>

#include "interchange/stages.h"
#include "scene/file_access.h"
#include "scene/scene_error.h"

namespace {

// The canonical form of an existing path, or "".
std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

// A model file open for Assimp: reads bounded by the size the file had when it was opened.
class ModelStream : public Assimp::IOStream {
 public:
  ModelStream(int fd, const std::string& path) : file_(fd, path), size_(file_.Size()) {}

  size_t Read(void* buffer, size_t size, size_t count) override {
    if (size == 0 || count == 0 || position_ >= size_) return 0;
    const uint64_t wanted = std::min<uint64_t>(uint64_t(size) * count, size_ - position_);
    const size_t whole = static_cast<size_t>(wanted / size) * size;  // whole elements only
    size_t got = 0;
    try {
      got = file_.ReadAt(position_, buffer, whole);
    } catch (const SceneError&) {
      return 0;  // a read error reads as the end of the file
    }
    position_ += got;
    return got / size;
  }
  size_t Write(const void*, size_t, size_t) override { return 0; }
  aiReturn Seek(size_t offset, aiOrigin origin) override {
    uint64_t target = 0;
    switch (origin) {
      case aiOrigin_SET:
        target = offset;
        break;
      case aiOrigin_CUR:
        target = position_ + offset;
        break;
      case aiOrigin_END:
        if (offset > size_) return aiReturn_FAILURE;
        target = size_ - offset;
        break;
      default:
        return aiReturn_FAILURE;
    }
    if (target > size_) return aiReturn_FAILURE;
    position_ = target;
    return aiReturn_SUCCESS;
  }
  size_t Tell() const override { return static_cast<size_t>(position_); }
  size_t FileSize() const override { return static_cast<size_t>(size_); }
  void Flush() override {}

 private:
  InputFile file_;
  uint64_t size_;
  uint64_t position_ = 0;
};

// Assimp's view of the files: only what `files` grants, read-only.
class ModelIOSystem : public Assimp::IOSystem {
 public:
  ModelIOSystem(ModelFileAccess& files, std::vector<std::string>& refusals)
      : files_(files), refusals_(refusals) {}
  bool Exists(const char* path) const override { return path != nullptr && files_.Exists(path); }
  char getOsSeparator() const override { return '/'; }
  Assimp::IOStream* Open(const char* path, const char* mode) override {
    if (path == nullptr || mode == nullptr || std::strpbrk(mode, "wa+") != nullptr) {
      return nullptr;
    }
    std::string refusal;
    const int fd = files_.Open(path, refusal);
    if (fd < 0) {
      if (!refusal.empty() &&
          std::find(refusals_.begin(), refusals_.end(), refusal) == refusals_.end()) {
        refusals_.push_back(refusal);
      }
      return nullptr;
    }
    try {
      return new ModelStream(fd, path);
    } catch (const SceneError&) {
      return nullptr;
    }
  }
  void Close(Assimp::IOStream* stream) override { delete stream; }

 private:
  ModelFileAccess& files_;
  std::vector<std::string>& refusals_;
};

}  // namespace

ModelFiles::ModelFiles(const std::string& modelPath, const std::vector<std::string>& folders) {
  // The folder the model is named in, and the one it really lies in when the name is a link:
  // the file the user names is read wherever it is.
  std::vector<std::string> wanted = {FolderOf(modelPath).empty() ? "." : FolderOf(modelPath)};
  const std::string real = Canonical(modelPath);
  if (!real.empty()) wanted.push_back(FolderOf(real));
  wanted.insert(wanted.end(), folders.begin(), folders.end());
  for (const std::string& folder : wanted) {
    std::string canonical = Canonical(folder);
    if (canonical.empty()) continue;
    const int fd = ::open(canonical.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) continue;
    if (canonical.back() != '/') canonical += '/';
    folders_.push_back(Folder{canonical, fd});
  }
}

ModelFiles::~ModelFiles() {
  for (const Folder& folder : folders_) ::close(folder.fd);
}

const ModelFiles::Folder* ModelFiles::Allows(const std::string& path, std::string& canonical,
                                             std::string& refusal) const {
  canonical = Canonical(path);
  if (canonical.empty() || !IsRegularFile(canonical)) return nullptr;
  for (const Folder& folder : folders_) {
    if (canonical.compare(0, folder.name.size(), folder.name) == 0) return &folder;
  }
  refusal = path + " lies outside the model's folder; --textures-from " + FolderOf(canonical) +
            " lets the import read it";
  return nullptr;
}

int ModelFiles::Open(const std::string& path, std::string& refusal) {
  std::string canonical;
  const Folder* folder = Allows(path, canonical, refusal);
  if (folder == nullptr) return -1;
  open_how how{};
  how.flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  const std::string beneath = canonical.substr(folder->name.size());
  const int fd =
      static_cast<int>(::syscall(SYS_openat2, folder->fd, beneath.c_str(), &how, sizeof how));
  if (fd < 0) {
    // Changed since the check: a link now leads out of the folder.
    if (errno == EXDEV || errno == ELOOP) {
      refusal = path + " lies outside the model's folder; --textures-from " + FolderOf(canonical) +
                " lets the import read it";
    }
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return -1;
  }
  // Regular files never block; reads then behave as on any descriptor.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool ModelFiles::Exists(const std::string& path) {
  std::string canonical, refusal;
  return Allows(path, canonical, refusal) != nullptr;
}

Assimp::IOSystem* NewModelIOSystem(ModelFileAccess& files, std::vector<std::string>& refusals) {
  return new ModelIOSystem(files, refusals);
}
