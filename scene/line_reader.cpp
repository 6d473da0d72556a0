// Buffered line reading with POSIX read(). The scan for line ends is the hot loop of a load:
// it tests 16 bytes at a time for CR and LF.
#include "scene/line_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "scene/scene_error.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int64_t kReadBlockBytes = 1 << 20;
constexpr int64_t kSmallestBlockBytes = 4096;
constexpr char kCtrlZ = 26;

bool IsLineBreak(char c) {
  return c == '\r' || c == '\n';
}

// First position in [p, end) holding CR or LF, or `end`. The buffer never holds a Ctrl+Z:
// Fill cuts the data there.
const char* FindLineBreak(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  while (end - p >= 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(chunk, cr), _mm_cmpeq_epi8(chunk, lf));
    const int mask = _mm_movemask_epi8(hits);
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  while (p < end && !IsLineBreak(*p)) ++p;
  return p;
}

}  // namespace

LineReader::LineReader(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    throw CannotOpenFile(path);
  }
  fileSize_ = static_cast<int64_t>(info.st_size);
  // Small files get a small buffer; one more byte than the file lets the first read see its end.
  buffer_.resize(static_cast<size_t>(
      std::clamp<int64_t>(fileSize_ + 1, kSmallestBlockBytes, kReadBlockBytes)));
}

LineReader::~LineReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool LineReader::Fill() {
  if (fileDone_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);  // a line longer than it
  ssize_t got = 0;
  do {
    got = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) {
    fileDone_ = true;
    return false;
  }
  const char* fresh = buffer_.data() + end_;
  const void* ctrlZ = std::memchr(fresh, kCtrlZ, static_cast<size_t>(got));
  if (ctrlZ != nullptr) {
    // Nothing after a Ctrl+Z belongs to the file's text.
    got = static_cast<const char*>(ctrlZ) - fresh;
    fileDone_ = true;
  }
  end_ += static_cast<size_t>(got);
  return got > 0 || begin_ < end_;
}

bool LineReader::AtEnd() {
  if (begin_ < end_) return false;
  return !Fill() || begin_ == end_;
}

std::string_view LineReader::NextLine() {
  size_t scanned = 0;  // bytes after begin_ known to hold no line break; Fill keeps it valid
  for (;;) {
    const char* data = buffer_.data();
    const char* hit = FindLineBreak(data + begin_ + scanned, data + end_);
    if (hit == data + end_) {
      scanned = end_ - begin_;
      if (Fill()) continue;
      // The file ends without a terminator: the rest is the last line.
      const size_t lineBegin = begin_;
      consumed_ += static_cast<int64_t>(end_ - begin_);
      begin_ = end_;
      return std::string_view(buffer_.data() + lineBegin, end_ - lineBegin);
    }
    size_t lineEnd = static_cast<size_t>(hit - data);
    if (*hit == '\r' && lineEnd + 1 == end_ && !fileDone_) {
      // CR LF is one terminator, and the LF may not have been read yet.
      scanned = lineEnd - begin_;
      Fill();
      lineEnd = begin_ + scanned;
    }
    size_t next = lineEnd + 1;
    if (buffer_[lineEnd] == '\r' && next < end_ && buffer_[next] == '\n') ++next;
    const size_t lineBegin = begin_;
    consumed_ += static_cast<int64_t>(next - lineBegin);
    begin_ = next;
    return std::string_view(buffer_.data() + lineBegin, lineEnd - lineBegin);
  }
}
