// The one error type of scene loading: the exact message the user sees, plus where it
// happened (file and 1-based line, 0 when no line applies) kept apart for diagnostics.
#pragma once

#include <stdexcept>
#include <string>

class SceneError : public std::runtime_error {
 public:
  explicit SceneError(const std::string& message, std::string file = std::string(), int line = 0)
      : std::runtime_error(message), file_(std::move(file)), line_(line) {}

  const std::string& file() const { return file_; }
  int line() const { return line_; }

 private:
  std::string file_;
  int line_;
};

// "FILE:LINE: message", "FILE: message" without a line, or the bare message without a file.
std::string FormatDiagnostic(const SceneError& error);

// "Cannot open file %s" for `path`, as raised by every reader that fails to open a file.
SceneError CannotOpenFile(const std::string& path);
