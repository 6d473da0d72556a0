// The application data of quadview's exports, and the camera's pose in file coordinates.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "interchange/stages.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "records are stored little-endian");

namespace {
constexpr double kDegreesToRadians = 3.14159265358979323846 / 180.0;
}  // namespace

std::string MaterialName(int32_t slot, uint8_t blend) {
  return "quadview_slot_" + std::to_string(slot) + "_blend_" + std::to_string(blend);
}

bool ParseMaterialName(const std::string& name, int32_t& slot, uint8_t& blend) {
  long long parsedSlot = 0;
  unsigned parsedBlend = 0;
  int consumed = 0;
  if (std::sscanf(name.c_str(), "quadview_slot_%lld_blend_%u%n", &parsedSlot, &parsedBlend,
                  &consumed) != 2 ||
      static_cast<size_t>(consumed) != name.size() || parsedSlot < INT32_MIN ||
      parsedSlot > INT32_MAX || parsedBlend > 255) {
    return false;
  }
  slot = static_cast<int32_t>(parsedSlot);
  blend = static_cast<uint8_t>(parsedBlend);
  return true;
}

std::string FloatBitsHex(float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  char text[9];
  std::snprintf(text, sizeof text, "%08x", bits);
  return text;
}

bool FloatFromBitsHex(const std::string& text, float& value) {
  if (text.size() != 8 || text.find_first_not_of("0123456789abcdef") != std::string::npos) {
    return false;
  }
  const uint32_t bits = static_cast<uint32_t>(std::stoul(text, nullptr, 16));
  std::memcpy(&value, &bits, sizeof value);
  return true;
}

namespace {
constexpr uint32_t kTagIndexLowBits = 24;
constexpr uint32_t kTagIndexLowMask = (uint32_t(1) << kTagIndexLowBits) - 1;
constexpr uint32_t kTagMarker = uint32_t(1) << 16;
constexpr uint32_t kTagWindingBit = uint32_t(1) << 15;
constexpr uint32_t kTagBlendShift = 7;
constexpr uint32_t kTagIndexHighMask = (uint32_t(1) << kTagBlendShift) - 1;
}  // namespace

void EncodeRecordTag(const RecordTag& tag, float& s, float& t) {
  const uint32_t index = static_cast<uint32_t>(tag.index);
  s = static_cast<float>(index & kTagIndexLowMask);
  t = static_cast<float>(kTagMarker | (tag.counterClockwise == 1 ? kTagWindingBit : 0) |
                         uint32_t{tag.blend} << kTagBlendShift | index >> kTagIndexLowBits);
}

bool DecodeRecordTag(float s, float t, RecordTag& tag) {
  // Whole numbers in range only: anything a tool computed is no tag.
  if (!(s >= 0 && s <= static_cast<float>(kTagIndexLowMask) && std::floor(s) == s &&
        t >= static_cast<float>(kTagMarker) && t < static_cast<float>(2 * kTagMarker) &&
        std::floor(t) == t)) {
    return false;
  }
  const uint32_t high = static_cast<uint32_t>(t);
  tag.index = static_cast<int32_t>((high & kTagIndexHighMask) << kTagIndexLowBits |
                                   static_cast<uint32_t>(s));
  tag.blend = static_cast<uint8_t>(high >> kTagBlendShift & 0xFF);
  tag.counterClockwise = (high & kTagWindingBit) != 0 ? 1 : 0;
  return true;
}

CameraPose CameraPoseOf(const CameraState& camera) {
  // The renderer's modelview, mirror(x) * Rx(-tilt) * Rz(spin) * T(pan, distance) * Ry(180),
  // applied to the stored corner (x, y, -z) of the file's point (x, y, z), is the rotation
  // Rx(-tilt) * Rz(-spin) of the point minus (panX, -panY, -distance): the mirror cancels the
  // half turn's x and turns Rz(spin) into Rz(-spin). The camera-to-world rotation is the
  // inverse, Rz(spin) * Rx(tilt).
  CameraPose pose{};
  pose.translation[0] = camera.panX;
  pose.translation[1] = -static_cast<double>(camera.panY);
  pose.translation[2] = -static_cast<double>(camera.distance);
  const double halfTilt = camera.tilt * kDegreesToRadians / 2;
  const double halfSpin = camera.spin * kDegreesToRadians / 2;
  const double cx = std::cos(halfTilt), sx = std::sin(halfTilt);
  const double cz = std::cos(halfSpin), sz = std::sin(halfSpin);
  // (0, 0, sz, cz) * (sx, 0, 0, cx)
  pose.rotation[0] = cz * sx;
  pose.rotation[1] = sz * sx;
  pose.rotation[2] = sz * cx;
  pose.rotation[3] = cz * cx;
  return pose;
}

namespace {

// The length of the UTF-8 sequence at `at` (1 to 4 bytes), or 0 when none starts there:
// overlong forms, surrogates and code points past U+10FFFF are none.
size_t Utf8SequenceAt(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

void AppendPercentEscape(std::string& text, unsigned char byte) {
  static const char* const kHex = "0123456789ABCDEF";
  text += '%';
  text += kHex[byte >> 4];
  text += kHex[byte & 15];
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string EscapedName(const std::string& name) {
  std::string text;
  for (size_t at = 0; at < name.size();) {
    const size_t length = name[at] == '%' ? 0 : Utf8SequenceAt(name, at);
    if (length > 0) {
      text.append(name, at, length);
      at += length;
      continue;
    }
    AppendPercentEscape(text, static_cast<unsigned char>(name[at++]));
  }
  return text;
}

std::string UnescapedName(const std::string& text) {
  std::string name;
  for (size_t at = 0; at < text.size(); ++at) {
    const int high = text[at] == '%' && at + 2 < text.size() ? HexDigit(text[at + 1]) : -1;
    const int low = high >= 0 ? HexDigit(text[at + 2]) : -1;
    // Only what EscapedName writes: '%' and the bytes of no UTF-8 character, never a NUL or
    // a '/' that the text did not hold, and older names with a '%' keep it.
    const int byte = high * 16 + low;
    if (low < 0 || (byte != '%' && byte < 0x80)) {
      name += text[at];
      continue;
    }
    name += static_cast<char>(byte);
    at += 2;
  }
  return name;
}
