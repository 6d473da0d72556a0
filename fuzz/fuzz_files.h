// The files a fuzz target hands the readers live in a folder of the process's own under
// /dev/shm: memory, not disk, and no clash between targets running side by side.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// Creates "/dev/shm/quadview-TAG-PID" and returns its path.
inline std::string MakeFuzzFolder(const std::string& tag) {
  std::string folder = "/dev/shm/quadview-" + tag + "-" + std::to_string(::getpid());
  ::mkdir(folder.c_str(), 0700);
  return folder;
}

// Writes `size` bytes to `path`; a target that cannot write its input stops at once.
inline void WriteFuzzFile(const std::string& path, const void* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(data, 1, size, file);
  std::fclose(file);
}
