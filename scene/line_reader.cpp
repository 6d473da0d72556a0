// Buffered line reading over InputFile. The scan for line ends is the hot loop of a load:
// it tests 16 bytes at a time for CR and LF.
#include "scene/line_reader.h"

#include <algorithm>
#include <cstring>

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

}  // namespace

// The buffer never holds a Ctrl+Z: Fill cuts the data there.
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

LineReader::LineReader(const std::string& path, int64_t offset) : file_(path), consumed_(offset) {
  if (offset > 0) file_.Seek(static_cast<uint64_t>(offset));
  SizeBuffer();
}

LineReader::LineReader(int fd, const std::string& path) : file_(fd, path) {
  SizeBuffer();
}

void LineReader::SizeBuffer() {
  // Small files get a small buffer; one more byte than the file lets the first read see its end.
  buffer_.resize(static_cast<size_t>(
      std::clamp<int64_t>(file_.Size() + 1, kSmallestBlockBytes, kReadBlockBytes)));
}

bool LineReader::Fill() {
  if (fileDone_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buffer_.size() && buffer_.size() < kLineHoldBytes) {
    buffer_.resize(std::min(buffer_.size() * 2, kLineHoldBytes));  // a line longer than it
  }
  const size_t room = std::min(buffer_.size() - end_, static_cast<size_t>(kReadBlockBytes));
  size_t got = file_.Read(buffer_.data() + end_, room);
  const char* fresh = buffer_.data() + end_;
  const void* ctrlZ = std::memchr(fresh, kCtrlZ, got);
  if (ctrlZ != nullptr) {
    // Nothing after a Ctrl+Z belongs to the file's text.
    got = static_cast<size_t>(static_cast<const char*>(ctrlZ) - fresh);
    fileDone_ = true;
  }
  if (got == 0) {
    fileDone_ = true;
    return false;
  }
  if (lfMayFollow_) {
    // The previous line ended with the CR at the end of the last read: an LF here belongs
    // to that terminator.
    lfMayFollow_ = false;
    if (*fresh == '\n') {
      ++consumed_;
      ++begin_;
    }
  }
  end_ += got;
  return true;
}

bool LineReader::AtEnd() {
  while (begin_ == end_) {
    if (!Fill()) return true;
  }
  return false;
}

std::string_view LineReader::TakeLineEndingAt(size_t lineEnd) {
  size_t next = lineEnd + 1;
  if (buffer_[lineEnd] == '\r') {
    if (next < end_) {
      if (buffer_[next] == '\n') ++next;
    } else {
      lfMayFollow_ = true;  // CR LF is one terminator, and the LF has not been read yet
    }
  }
  const size_t lineBegin = begin_;
  consumed_ += static_cast<int64_t>(next - lineBegin);
  begin_ = next;
  return std::string_view(buffer_.data() + lineBegin, lineEnd - lineBegin);
}

std::string_view LineReader::TakeRest() {
  const size_t pieceBegin = begin_;
  consumed_ += static_cast<int64_t>(end_ - begin_);
  begin_ = end_;
  return std::string_view(buffer_.data() + pieceBegin, end_ - pieceBegin);
}

std::string_view LineReader::NextLine(bool& complete) {
  complete = true;
  size_t scanned = 0;  // bytes after begin_ known to hold no line break; Fill keeps it valid
  for (;;) {
    const char* data = buffer_.data();
    const char* hit = FindLineBreak(data + begin_ + scanned, data + end_);
    if (hit != data + end_) return TakeLineEndingAt(static_cast<size_t>(hit - data));
    scanned = end_ - begin_;
    if (scanned >= kLineHoldBytes) {
      // Holding more of this line would pass the bound: hand out what is here.
      complete = false;
      return TakeRest();
    }
    if (Fill()) continue;
    return TakeRest();  // the file ends without a terminator: the rest is the last line
  }
}

std::string_view LineReader::NextPiece(bool& complete) {
  complete = true;
  if (begin_ == end_ && !Fill()) return std::string_view();  // the line ended with the file
  const char* data = buffer_.data();
  const char* hit = FindLineBreak(data + begin_, data + end_);
  if (hit != data + end_) return TakeLineEndingAt(static_cast<size_t>(hit - data));
  complete = false;
  return TakeRest();
}
