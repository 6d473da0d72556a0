// Differential fuzz target for float conversion: the padded fast route, the plain route and
// the extended route rounded to float must agree bit for bit, and accept the same texts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "scene/numbers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kPadding = 16;
  std::vector<char> padded(size + kPadding, ',');
  std::memcpy(padded.data(), data, size);
  const std::string_view text(padded.data(), size);
  long double extended = 0;
  const bool extendedOk = TryParseExtended(text, '.', extended);
  float plain = 0, fast = 0;
  const bool plainOk = TryParseFloat(text, '.', plain);
  const bool fastOk = TryParseFloatPadded(text, '.', fast);
  if (plainOk != extendedOk || fastOk != extendedOk) std::abort();
  if (extendedOk) {
    const float expected = static_cast<float>(extended);
    if (std::memcmp(&plain, &expected, sizeof plain) != 0) std::abort();
    if (std::memcmp(&fast, &expected, sizeof fast) != 0) std::abort();
  }
  int32_t value = 0;
  TryParseInt32(text, value);
  return 0;
}
