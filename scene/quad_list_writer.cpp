// The quad-list writer. Floats go out as std::to_chars's shortest text when the reader's own
// conversion (extended precision, then float32) gives the float back, with more digits in the
// rare case where that double rounding would not; an infinity as 1E39, which the reader turns
// into one.
#include "scene/quad_list_writer.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "scene/numbers.h"
#include "scene/quad_list.h"
#include "scene/record_format.h"
#include "scene/scene_error.h"

namespace {

constexpr int kMaxSignificantDigits = 120;  // the exact decimal of every float32 fits

// Appends the shortest text of `value` that TryParseFloat reads back to the same bits.
void AppendFloatText(std::string& out, float value) {
  if (std::isinf(value)) {
    out += value > 0 ? "1E39" : "-1E39";
    return;
  }
  const size_t start = out.size();
  AppendShortestFloat(out, value);
  for (int digits = 9;; ++digits) {
    float back = 0;
    const std::string_view written(out.data() + start, out.size() - start);
    if (TryParseFloat(written, kDecimalSeparator, back) &&
        std::memcmp(&back, &value, sizeof value) == 0) {
      break;
    }
    if (digits > kMaxSignificantDigits) break;  // never reached: the exact decimal reads back
    char text[160];
    const std::to_chars_result result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, digits);
    out.resize(start);
    out.append(text, result.ptr);
  }
}

}  // namespace

QuadListWriter::QuadListWriter(const std::string& path)
    : ownFile_(std::make_unique<OutputFile>(path)), file_(*ownFile_), path_(path) {
  readsTextureNumbers_ = TextureNumberOffset(path, textureOffset_);
}

QuadListWriter::QuadListWriter(const std::string& path, OutputFile& file)
    : file_(file), path_(path) {
  readsTextureNumbers_ = TextureNumberOffset(path, textureOffset_);
}

void QuadListWriter::Write(const QuadRecord& record) {
  const int64_t index = written_++;
  if (!readsTextureNumbers_ && record.textureIndex != 0) {
    throw SceneError("Cannot write record " + std::to_string(index + 1) + " to " + path_ +
                     ": only files named " + TextureNumberFileNames() + " hold texture slots");
  }
  line_.clear();
  // The number wraps like the reader's 32-bit arithmetic, so every slot has one.
  const int32_t number = static_cast<int32_t>(static_cast<uint32_t>(record.textureIndex) +
                                              static_cast<uint32_t>(textureOffset_));
  AppendInteger(line_, readsTextureNumbers_ ? number : 0);
  line_ += ' ';
  AppendInteger(line_, record.blend);
  line_ += "\r\n";
  line_ += record.counterClockwise == 1 ? kCounterClockwiseWord : kClockwiseWord;
  line_ += "\r\n";
  for (const QuadCorner& corner : record.corners) {
    float values[kCornerTokens];
    ValuesFromCorner(corner, values);
    for (int i = 0; i < kCornerTokens; ++i) {
      if (std::isnan(values[i])) {
        throw SceneError("Cannot write record " + std::to_string(index + 1) + " to " + path_ +
                         ": a NaN coordinate has no text in a quad-list file");
      }
      if (i > 0) line_ += ' ';
      AppendFloatText(line_, values[i]);
    }
    line_ += "\r\n";
  }
  file_.Write(line_);
}

void WriteQuadList(const std::string& path, const QuadTable& table) {
  QuadListWriter writer(path);
  for (int32_t i = 0; i < table.count; ++i) writer.Write(table.records[static_cast<size_t>(i)]);
  writer.Commit();
}
