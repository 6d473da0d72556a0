// The quad-list reader: six lines a record (header, winding word, four corners), streamed
// into the QuadTable. Every field of a record is stored before `count` covers it, so a failed
// or interrupted load leaves exactly the completed records. Numbers always use '.'.
#include "scene/quad_list.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "scene/line_reader.h"
#include "scene/numbers.h"
#include "scene/scene_error.h"
#include "scene/text_parser.h"

namespace {

constexpr char kDecimalSeparator = '.';
constexpr int kCornersPerQuad = 4;

// Texture numbers in these files are shifted onto the numbering of the texture folder.
struct TextureShift {
  const char* fileName;
  int32_t offset;
};
constexpr TextureShift kTextureShifts[] = {{"nyc.map", 3}, {"sanb.map", 2}, {"miami.map", 3}};

bool IsBlank(std::string_view line) {
  return std::all_of(line.begin(), line.end(), [](char c) {
    const unsigned char code = static_cast<unsigned char>(c);
    return code >= 1 && code <= 32;
  });
}

int32_t ClampToInt32(int64_t value) {
  return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

// Parses the integer token `index` of the current line; a missing token reads as "".
int32_t IntToken(int32_t index) {
  const std::string_view* token = PeekToken(index);
  return StrToInt(token != nullptr ? *token : std::string_view());
}

bool IsSeparator(char c) {
  return static_cast<unsigned char>(c) <= 32 || c == ',';
}

// Moves `p` past commas and codes 1 to 32 to the start of the next token; false at a NUL,
// which ends a line's text for the tokenizer, and at the start of a quoted token: the fast
// routes then leave the line to the tokenizer route. True with p == end when none is left.
bool SkipToPlainToken(const char*& p, const char* end) {
  while (p < end && IsSeparator(*p)) {
    if (*p == '\0') return false;
    ++p;
  }
  return p == end || *p != '"';
}

// The common header line, its first two tokens plain decimal integers, read in one pass: the
// same tokens and values as the tokenizer route. False for anything else (then that route
// decides, with its messages).
bool ReadHeaderFast(std::string_view line, int32_t& first, int32_t& second) {
  constexpr int kMaxDigits = 10;  // more never fits an int32
  const char* p = line.data();
  const char* const end = p + line.size();
  int32_t values[2];
  for (int32_t& value : values) {
    if (!SkipToPlainToken(p, end) || p == end) return false;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    const char* const digitsBegin = p;
    int64_t magnitude = 0;
    while (p < end && p - digitsBegin < kMaxDigits && static_cast<unsigned>(*p - '0') < 10u) {
      magnitude = magnitude * 10 + (*p++ - '0');
    }
    if (p == digitsBegin || (p < end && !IsSeparator(*p))) return false;
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue < INT32_MIN || signedValue > INT32_MAX) return false;
    value = static_cast<int32_t>(signedValue);
  }
  first = values[0];
  second = values[1];
  return true;
}

// Makes room for `count + 1` records, growing towards the count the rest of the file implies
// rather than doubling, so the table's storage stays close to its contents.
void EnsureRoom(QuadTable& table, int64_t bytesLeft, int64_t bytesPerRecord) {
  if (table.records.size() < table.records.capacity()) return;
  const int64_t expected = bytesLeft / std::max<int64_t>(bytesPerRecord, 1);
  const size_t extra = static_cast<size_t>(std::max<int64_t>(expected + expected / 8, 1024));
  table.records.reserve(table.records.size() + extra);
}

}  // namespace

// A missing coordinate is the empty text, never a value borrowed from elsewhere.
void ReadCornerTokens(std::string_view line, QuadCorner& corner) {
  ParseLine(line);
  const int32_t count = TokenCount();
  const std::string_view* tokens = TokenData();
  float values[5];
  for (int32_t i = 0; i < 5; ++i) {
    const std::string_view text = i < count ? tokens[i] : std::string_view();
    if (!TryParseFloat(text, kDecimalSeparator, values[i])) {
      StrToFloat(text, kDecimalSeparator);  // raises the conversion error for `text`
    }
  }
  corner.u = values[0];
  corner.v = values[1];
  corner.x = values[2];
  corner.y = values[3];
  corner.z = -values[4];
}

// The common corner line, five plain decimals, read in one pass without the token list: the
// same tokens (runs of bytes other than commas and codes 1 to 32) and the same conversion as
// ReadCornerTokens. Returns false, having changed nothing, for anything else
// (a quote or NUL before the fifth token ends, fewer than five tokens, a bad number), which
// then takes the general route and its error messages.
bool ReadCornerFast(std::string_view line, QuadCorner& corner) {
  constexpr int kMaxFastDigits = 19;  // a uint64 holds 19 decimal digits
  const char* p = line.data();
  const char* const end = p + line.size();
  float values[5];
  for (float& value : values) {
    if (!SkipToPlainToken(p, end) || p == end) return false;
    const char* const tokenBegin = p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    auto isDigit = [](char c) { return static_cast<unsigned>(c - '0') < 10u; };
    const char* const digitsBegin = p;
    uint64_t mantissa = 0;
    while (p < end && isDigit(*p)) mantissa = mantissa * 10 + static_cast<uint64_t>(*p++ - '0');
    const char* point = nullptr;
    if (p < end && *p == kDecimalSeparator) {
      point = p++;
      while (p < end && isDigit(*p)) mantissa = mantissa * 10 + static_cast<uint64_t>(*p++ - '0');
    }
    const bool plain = p == end || IsSeparator(*p);
    const int digits = static_cast<int>(p - digitsBegin) - (point != nullptr ? 1 : 0);
    const int fractionDigits = point != nullptr ? static_cast<int>(p - point - 1) : 0;
    const bool decided = plain && digits <= kMaxFastDigits && (digits > 0 || point != nullptr) &&
                         TryDecimalToFloat(mantissa, fractionDigits, negative, value);
    if (decided) continue;
    // Any other token: its text up to the next separator, converted as it stands.
    while (p<end&& static_cast<unsigned char>(*p)> 32 && *p != ',') ++p;
    if (!TryParseFloat(std::string_view(tokenBegin, static_cast<size_t>(p - tokenBegin)),
                       kDecimalSeparator, value)) {
      return false;
    }
  }
  corner.u = values[0];
  corner.v = values[1];
  corner.x = values[2];
  corner.y = values[3];
  corner.z = -values[4];
  return true;
}

std::string LowerFileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return name;
}

void ReadQuadList(const std::string& path, QuadTable& table, QuadListProgress& progress) {
  table.count = 0;
  table.records.clear();
  LineReader reader(path);
  table.records.reserve(static_cast<size_t>(reader.FileSize() / kProgressBlockBytes) + 1);
  progress.SetProgressMax(ClampToInt32(reader.FileSize() / kProgressBlockBytes));

  const std::string fileName = LowerFileName(path);
  int32_t textureShift = 0;
  bool readsTextureNumber = false;
  for (const TextureShift& shift : kTextureShifts) {
    if (fileName == shift.fileName) {
      textureShift = shift.offset;
      readsTextureNumber = true;
      break;
    }
  }

  int lineNumber = 0;
  try {
    for (;;) {
      QuadRecord record{};
      std::string_view line = reader.NextLine();
      ++lineNumber;
      int32_t textureNumber = 0;
      int32_t blendMode = 0;
      if (!ReadHeaderFast(line, textureNumber, blendMode)) {
        if (IsBlank(line)) {
          // Only blank lines left after the last record end the file normally.
          const int blankLine = lineNumber;
          while (!reader.AtEnd() && IsBlank(reader.NextLine())) ++lineNumber;
          if (reader.AtEnd()) break;
          // More data follows: the blank header fails as usual, at its own line.
          lineNumber = blankLine;
          line = std::string_view();
        }
        ParseLine(line);
        if (readsTextureNumber) textureNumber = IntToken(0);
        blendMode = IntToken(1);
      }
      if (readsTextureNumber) {
        // Wraps like 32-bit arithmetic without overflow checks.
        record.textureIndex = static_cast<int32_t>(static_cast<uint32_t>(textureNumber) -
                                                   static_cast<uint32_t>(textureShift));
      }
      record.blend = static_cast<uint8_t>(blendMode & 0xFF);
      line = reader.NextLine();
      ++lineNumber;
      record.counterClockwise = line == "CCW" ? 1 : 0;
      for (int corner = 0; corner < kCornersPerQuad; ++corner) {
        line = reader.NextLine();
        ++lineNumber;
        if (!ReadCornerFast(line, record.corners[corner])) {
          ReadCornerTokens(line, record.corners[corner]);
        }
      }
      const int64_t consumed = reader.BytesConsumed();
      EnsureRoom(table, reader.FileSize() - consumed, consumed / (table.count + 1));
      table.records.push_back(record);
      table.count = static_cast<int32_t>(table.records.size());
      progress.SetProgressPosition(ClampToInt32(consumed / kProgressBlockBytes));
      progress.ProcessPendingMessages();
      if (reader.AtEnd()) break;
    }
  } catch (const SceneError& error) {
    if (!error.file().empty()) throw;
    throw SceneError(error.what(), path, lineNumber);
  }
}
