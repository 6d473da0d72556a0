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
