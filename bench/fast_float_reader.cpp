// The reader a skilled user would write in an afternoon, for bench/scene_load.sh to measure
// quadscene against: the whole file read into memory, lines found with memchr, numbers by
// Debian's fast_float (integers by std::from_chars), no checks of any kind, records pushed
// onto a vector. Prints the record count.
// Usage: fast_float_reader FILE
#include <fast_float/fast_float.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "scene/scene_types.h"

namespace {

// The next line of [p, end) without its CR LF, CR or LF; moves `p` past it.
std::string_view NextLine(const char*& p, const char* end) {
  const char* begin = p;
  const char* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(end - p)));
  const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
  const char* stop = cr != nullptr && (lf == nullptr || cr < lf) ? cr : (lf ? lf : end);
  p = stop;
  if (p < end && *p == '\r') ++p;
  if (p < end && *p == '\n') ++p;
  return std::string_view(begin, static_cast<size_t>(stop - begin));
}

const char* SkipSeparators(const char* p, const char* end) {
  while (p < end && (*p == ' ' || *p == ',' || *p == '\t')) ++p;
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::FILE* in = std::fopen(argv[1], "rb");
  if (in == nullptr) return 1;
  std::fseek(in, 0, SEEK_END);
  std::string text(static_cast<size_t>(std::ftell(in)), '\0');
  std::fseek(in, 0, SEEK_SET);
  text.resize(std::fread(text.data(), 1, text.size(), in));
  std::fclose(in);
  const char* p = text.data();
  const char* const end = p + text.size();
  std::vector<QuadRecord> records;
  while (p < end) {
    QuadRecord record{};
    std::string_view line = NextLine(p, end);
    const char* q = SkipSeparators(line.data(), line.data() + line.size());
    int32_t number = 0, blend = 0;
    q = std::from_chars(q, line.data() + line.size(), number).ptr;
    q = SkipSeparators(q, line.data() + line.size());
    std::from_chars(q, line.data() + line.size(), blend);
    record.textureIndex = number - 3;
    record.blend = static_cast<uint8_t>(blend);
    record.counterClockwise = NextLine(p, end) == "CCW" ? 1 : 0;
    for (QuadCorner& corner : record.corners) {
      line = NextLine(p, end);
      const char* c = line.data();
      const char* const lineEnd = c + line.size();
      float values[5] = {};
      for (float& value : values) {
        c = SkipSeparators(c, lineEnd);
        c = fast_float::from_chars(c, lineEnd, value).ptr;
      }
      corner = QuadCorner{values[0], values[1], values[2], values[3], -values[4]};
    }
    records.push_back(record);
  }
  std::printf("%zu records\n", records.size());
  return 0;
}
