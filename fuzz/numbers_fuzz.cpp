// Differential fuzz target for number conversion: the float fast route against the extended
// route rounded to float, and the one-pass corner-line reader against the tokenizer route;
// wherever both give a result, the bits must agree.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "scene/numbers.h"
#include "scene/quad_list.h"
#include "scene/scene_error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  long double extended = 0;
  const bool extendedOk = TryParseExtended(text, '.', extended);
  float value = 0;
  if (TryParseFloat(text, '.', value) != extendedOk) std::abort();
  if (extendedOk) {
    const float expected = static_cast<float>(extended);
    if (std::memcmp(&value, &expected, sizeof value) != 0) std::abort();
  }
  int32_t integer = 0;
  TryParseInt32(text, integer);

  QuadCorner fast{}, general{};
  if (ReadCornerFast(text, fast)) {
    try {
      ReadCornerTokens(text, general);
    } catch (const SceneError&) {
      std::abort();  // the fast route accepted a line the tokenizer route rejects
    }
    if (std::memcmp(&fast, &general, sizeof fast) != 0) std::abort();
  }
  return 0;
}
