// F12's picture and e's editor. The editor is started through a process that exits at once,
// so the editor is nobody's child here: the viewer neither waits for it nor leaves a zombie.
#include "app/view_actions.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "app/title.h"
#include "scene/file_access.h"
#include "scene/png_writer.h"
#include "scene/scene_error.h"

namespace {

constexpr int kMaxPictureNames = 1000;  // same second, same scene: -2 to -1000

// Whether `word`, the first word of a shell command, names a program that can run.
bool Runnable(const std::string& word) {
  if (word.find('/') != std::string::npos) return ::access(word.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  for (size_t begin = 0; begin <= folders.size();) {
    size_t end = folders.find(':', begin);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = end > begin ? folders.substr(begin, end - begin) : ".";
    if (::access((folder + "/" + word).c_str(), X_OK) == 0) return true;
    begin = end + 1;
  }
  return false;
}

std::string FirstWord(const std::string& command) {
  const size_t begin = command.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  return command.substr(begin, command.find_first_of(" \t", begin) - begin);
}

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

std::string SaveViewPicture(const std::string& scenePath, int width, int height,
                            const std::vector<uint8_t>& rgba) {
  const std::vector<uint8_t> png = EncodeViewPng(width, height, rgba);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::string failure;
  for (const std::string& folder : {std::string("."), Variable("HOME")}) {
    if (folder.empty()) continue;
    try {
      for (int attempt = 1; attempt <= kMaxPictureNames; ++attempt) {
        const std::string path = PictureName(folder, scenePath, local, attempt);
        if (!WriteNewFile(path, png.data(), png.size())) continue;
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(path, error);
        return (error ? std::filesystem::path(path) : absolute.lexically_normal()).string();
      }
    } catch (const SceneError& error) {
      if (failure.empty()) failure = error.what();
    }
  }
  throw SceneError(failure.empty() ? "Cannot write the view's picture: no free name" : failure);
}

bool OpenInEditor(const std::string& file, int64_t line) {
  const std::string visual = Variable("VISUAL"), editor = Variable("EDITOR");
  const std::string script = EditorScript(visual, editor);
  const std::string program = FirstWord(script);
  const std::string needed =
      visual.empty() ? FirstWord(editor.empty() ? "sensible-editor" : editor) : program;
  for (const std::string& word : {program, needed}) {
    if (!Runnable(word)) {
      std::fprintf(stderr,
                   "quadview: e: no editor to run: %s is not found (set VISUAL or EDITOR)\n",
                   Printable(word).c_str());
      return false;
    }
  }
  // Absolute, so that a name beginning with '-' is never taken for an option.
  std::error_code error;
  const std::string path = std::filesystem::absolute(file, error).string();
  const std::string place = "+" + std::to_string(line);
  const pid_t child = ::fork();
  if (child < 0) {
    std::fprintf(stderr, "quadview: e: cannot start the editor\n");
    return false;
  }
  if (child == 0) {
    // Only calls safe after a fork in a threaded process, up to the exec.
    ::setsid();
    if (::fork() == 0) {
      ::execl("/bin/sh", "sh", "-c", script.c_str(), "sh", place.c_str(),
              (error ? file : path).c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::_exit(0);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}
