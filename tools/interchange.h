// What quadview's own exports carry besides the geometry, so that `quadscene import` restores
// a scene bit for bit: glTF and OBJ have no field for a record's blend byte, its winding flag,
// its slot number, or a coordinate that is not finite, and OBJ readers do not round floats
// exactly. Shared by the writers (export) and the reader of these files (import).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene/scene_types.h"

constexpr int kInterchangeVersion = 1;
constexpr const char* kGeneratorName = "quadscene export";
// glTF: the root object's extras hold {"quadview": {...}} with these keys.
constexpr const char* kGltfExtrasKey = "quadview";
// OBJ: the first line of the file, then application data in comments.
constexpr const char* kObjMarker = "# quadview export";
constexpr const char* kObjWinding = "# quadview winding";  // CW or CCW, for the faces that follow
constexpr const char* kObjRecord = "# quadview record";    // a record left out of the geometry
constexpr const char* kObjImage = "# quadview image";      // SLOT FILE (or "-" when untextured)
constexpr const char* kObjSource = "# quadview source";    // the quad-list file's name
constexpr const char* kObjEnd = "# quadview end";  // RECORDS: the count, the file's last line

// The material of a (slot, blend) pair: "quadview_slot_7_blend_1".
std::string MaterialName(int32_t slot, uint8_t blend);
bool ParseMaterialName(const std::string& name, int32_t& slot, uint8_t& blend);

// glTF's binary container: the header magic and version, and the two chunk types.
constexpr uint32_t kGlbMagic = 0x46546C67;  // "glTF"
constexpr uint32_t kGlbVersion = 2;
constexpr uint32_t kChunkJson = 0x4E4F534A;
constexpr uint32_t kChunkBin = 0x004E4942;

// A record travels as its 86 bytes, the table's own little-endian layout.
constexpr size_t kRecordBytes = sizeof(QuadRecord);

// A float as the eight hexadecimal digits of its bits, and back (for OBJ comments, which
// must hold infinities exactly).
std::string FloatBitsHex(float value);
bool FloatFromBitsHex(const std::string& text, float& value);

// The camera of the viewer's transform as a glTF camera node: the eye at (panX, -panY,
// -distance) in file coordinates, turned by spin degrees about z after tilt degrees about x.
struct CameraPose {
  double translation[3];
  double rotation[4];  // quaternion x, y, z, w
};
CameraPose CameraPoseOf(const CameraState& camera);

// The viewer draws each quad as the triangles (0, 1, 2) and (0, 2, 3) of its corners (GL's
// split of a quad, seen in Mesa); exports split them the same way.
constexpr int kQuadTriangles[2][3] = {{0, 1, 2}, {0, 2, 3}};
