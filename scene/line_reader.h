// Streams a text file line by line through a bounded buffer, never holding the whole file.
// A line ends at CR LF, a lone CR or a lone LF; a Ctrl+Z character ends the file. Past the
// end every line reads as empty. Counts the bytes consumed, line terminators included.
// A line longer than kLineHoldBytes is handed out in pieces, so no line costs more memory
// than that, however long it is.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scene/file_access.h"

constexpr size_t kLineHoldBytes = size_t(4) << 20;

// The first CR or LF in [p, end), or `end`: 16 bytes at a time.
const char* FindLineBreak(const char* p, const char* end);

class LineReader {
 public:
  // Opens `path` (SceneError "Cannot open file %s" unless it is a readable regular file) and
  // reads it from byte `offset`, a line's start, on; BytesConsumed counts from the file's
  // start. Read failures later raise "Cannot read file %s".
  explicit LineReader(const std::string& path, int64_t offset = 0);
  // The same on `fd`, a descriptor open for reading on the file `path` names (one handed over
  // by another process), from its start; it is closed with the reader.
  LineReader(int fd, const std::string& path);

  int64_t FileSize() const { return file_.Size(); }
  int64_t BytesConsumed() const { return consumed_; }
  // True when no characters remain before the end of the file or a Ctrl+Z.
  bool AtEnd();
  // The next line without its terminator, valid until the next call; empty past the end.
  // `complete` is false when the line goes on: NextPiece then hands out the rest of it.
  std::string_view NextLine(bool& complete);
  // The next piece of a line that NextLine or NextPiece left incomplete.
  std::string_view NextPiece(bool& complete);

 private:
  void SizeBuffer();
  // Moves the unread bytes to the front, grows the buffer while it is full and below
  // kLineHoldBytes, and reads more. False when nothing more came (the end of the file).
  // Needs room: the unread bytes are fewer than kLineHoldBytes.
  bool Fill();
  // Hands out [begin_, lineEnd) as the end of a line and consumes its terminator.
  std::string_view TakeLineEndingAt(size_t lineEnd);
  // Hands out everything unread as a piece of the current line.
  std::string_view TakeRest();

  InputFile file_;
  int64_t consumed_ = 0;
  std::vector<char> buffer_;
  size_t begin_ = 0;  // first unread byte in buffer_
  size_t end_ = 0;    // one past the last valid byte in buffer_
  bool fileDone_ = false;
  bool lfMayFollow_ = false;  // the last line ended at a CR that was the last byte read
};
