// Test support: runs quadscene as a user would, through the shell, capturing its exit status
// and both streams.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "tests/test_files.h"

const std::string kQuadscene = QUADVIEW_BINARY_DIR "/tools/quadscene";

struct CommandResult {
  int status = -1;  // the exit status, -1 when a signal ended it
  std::string out;
  std::string err;
};

// `args` are already quoted for the shell and may redirect stdout themselves; `prefix` runs
// before the program (a limit, a change of folder).
inline CommandResult RunQuadscene(const std::string& args, const TempDir& dir,
                                  const std::string& prefix = "") {
  const std::string outPath = dir.File("stdout.txt");
  const std::string errPath = dir.File("stderr.txt");
  const std::string command =
      "{ " + prefix + kQuadscene + " " + args + " ; } >" + outPath + " 2>" + errPath;
  const int status = std::system(command.c_str());
  CommandResult run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadFile(outPath);
  run.err = ReadFile(errPath);
  return run;
}

// The standard output of any shell command line (another tool's report, an archive listing).
inline std::string Shell(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  char chunk[4096];
  size_t got = 0;
  while (pipe && (got = std::fread(chunk, 1, sizeof chunk, pipe.get())) > 0) out.append(chunk, got);
  return out;
}
