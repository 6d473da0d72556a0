// The one error type of scene loading and writing: the exact message the user sees, plus
// where it happened (file and 1-based line, 0 when no line applies) and an optional system
// reason, kept apart for the diagnostics on stderr.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

class SceneError : public std::runtime_error {
 public:
  explicit SceneError(const std::string& message, std::string file = std::string(), int line = 0,
                      std::string reason = std::string())
      : std::runtime_error(message),
        file_(std::move(file)),
        line_(line),
        reason_(std::move(reason)) {}

  const std::string& file() const { return file_; }
  int line() const { return line_; }
  // What the system said (strerror text), shown in diagnostics but not in the message.
  const std::string& reason() const { return reason_; }

 private:
  std::string file_;
  int line_;
  std::string reason_;
};

// "FILE:LINE: message", "FILE: message" without a line, or the bare message without a file;
// " (reason)" follows when the error carries one.
std::string FormatDiagnostic(const SceneError& error);

// "Cannot open file %s" for `path`, as raised by every reader that fails to open a file.
SceneError CannotOpenFile(const std::string& path);
// "Cannot read file %s", with the system's reason for the diagnostics.
SceneError CannotReadFile(const std::string& path, int errorNumber);
// "Not enough memory reading %s".
SceneError NotEnoughMemory(const std::string& path);

// Messages quote at most this many bytes of a file's content.
constexpr size_t kQuotedContentBytes = 100;

// `text` as messages quote file content: whole up to kQuotedContentBytes, else its first
// kQuotedContentBytes bytes followed by "...". Keeps error boxes and terminals usable when a
// file holds a token of megabytes.
std::string QuoteContent(std::string_view text);

// `text` as it may go to a terminal: C0 controls, DEL, C1 controls (U+0080 to U+009F) and
// bytes that are no part of UTF-8 shown as \xNN (\u0080 for a C1 control), so that names from
// a file never move the cursor, re-title the window or rewrite a line. Everything else is kept.
std::string Printable(std::string_view text);
