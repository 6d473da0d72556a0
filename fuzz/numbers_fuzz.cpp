// Differential fuzz target for number conversion and tokenizing, on the programs' own
// interfaces: the float shortcut against the extended conversion; a line fed whole against the
// same line fed in pieces; and a corner line read by the quad-list reader (its one-pass route
// where it takes the line) against the tokenizer's own conversions. Wherever two routes give
// a result they must agree bit for bit, with the same message and the same trace lines.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_files.h"
#include "scene/numbers.h"
#include "scene/quad_list.h"
#include "scene/scene_error.h"
#include "scene/text_parser.h"

namespace {

std::vector<std::string> traces;
void CollectTrace(const std::string& text) {
  traces.push_back(text);
}

// The first five tokens of the line parsed last as floats, or the conversion message.
std::string ConvertTokens(float (&values)[5]) {
  try {
    for (int32_t i = 0; i < 5; ++i) values[i] = GetFloatToken(i);
  } catch (const SceneError& error) {
    return error.what();
  }
  return std::string();
}

std::string TokensText() {
  std::string text = std::to_string(TokenCount()) + ":" + TokenCommaText();
  for (int32_t i = 0; i < TokenCount(); ++i) {
    try {
      text += " " + std::to_string(GetIntToken(i));
    } catch (const SceneError& error) {
      text += std::string(" ") + error.what();
    }
  }
  return text;
}

std::string FuzzFile() {
  static const std::string path = MakeFuzzFolder("numbers") + "/a.map";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SetParserTraceSink(CollectTrace);
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  long double extended = 0;
  const bool extendedOk = TryParseExtended(text, '.', extended);
  float value = 0;
  if (TryParseFloat(text, '.', value) != extendedOk) std::abort();
  if (extendedOk) {
    const float expected = static_cast<float>(extended);
    if (std::memcmp(&value, &expected, sizeof value) != 0) std::abort();
  }
  NumberText pieces;
  for (size_t i = 0; i < size; i += 3) pieces.Append(text.substr(i, 3));
  long double fromPieces = 0;
  if (pieces.ToExtended(fromPieces) != extendedOk) std::abort();
  if (extendedOk && std::memcmp(&fromPieces, &extended, 10) != 0) std::abort();
  int32_t integer = 0, integerFromPieces = 0;
  if (TryParseInt32(text, integer) != pieces.ToInt32(integerFromPieces)) std::abort();

  // The line is a whole line for the tokenizer: it never holds a line break.
  if (text.find_first_of("\r\n\x1a") != std::string_view::npos) return 0;
  ParseLine(text);
  const std::string whole = TokensText();
  BeginLinePieces(kAllTokens);
  for (size_t i = 0; i < size; i += 1 + i % 7) ParseLinePiece(text.substr(i, 1 + i % 7));
  EndLinePieces();
  if (size <= kHeldTokenBytes && TokensText() != whole) std::abort();

  // The tokenizer route, then the reader on a file whose four corner lines are this line.
  traces.clear();
  ParseLine(text);
  float expected[5] = {};
  const std::string expectedError = ConvertTokens(expected);
  const std::vector<std::string> expectedTraces = traces;
  std::string content = "0 1\r\nCW\r\n";
  for (int i = 0; i < 4; ++i) content.append(text).append("\r\n");
  WriteFuzzFile(FuzzFile(), content.data(), content.size());
  traces.clear();
  QuadTable table;
  NoProgress progress;
  std::string error;
  try {
    ReadQuadList(FuzzFile(), table, progress);
  } catch (const SceneError& e) {
    error = e.what();
  }
  if (error != expectedError || traces != expectedTraces) std::abort();
  if (error.empty()) {
    if (table.count != 1) std::abort();
    const QuadCorner corner = table.records[0].corners[3];
    const float read[5] = {corner.u, corner.v, corner.x, corner.y, -corner.z};
    if (std::memcmp(read, expected, sizeof read) != 0) std::abort();
  }
  return 0;
}
