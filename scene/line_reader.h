// Streams a text file line by line through a fixed-size buffer, never holding the whole file.
// A line ends at CR LF, a lone CR or a lone LF; a Ctrl+Z character ends the file. Past the
// end every line reads as empty. Counts the bytes consumed, line terminators included.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class LineReader {
 public:
  // Opens `path`; throws SceneError "Cannot open file %s" when it cannot be read as a file.
  explicit LineReader(const std::string& path);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  int64_t FileSize() const { return fileSize_; }
  int64_t BytesConsumed() const { return consumed_; }
  // True when no characters remain before the end of the file or a Ctrl+Z.
  bool AtEnd();
  // The next line without its terminator; valid until the next call. Empty past the end.
  std::string_view NextLine();

 private:
  bool Fill();  // moves unread bytes to the front and reads more; false when none came

  int fd_ = -1;
  int64_t fileSize_ = 0;
  int64_t consumed_ = 0;
  std::vector<char> buffer_;
  size_t begin_ = 0;  // first unread byte in buffer_
  size_t end_ = 0;    // one past the last valid byte in buffer_
  bool fileDone_ = false;
};
