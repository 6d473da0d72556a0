// The three tables every part of the program shares: quads, texture names and the camera.
// Declared here so scene/, render/ and tools/ agree on them; the viewer's instances live in
// the main window's module. QuadRecord is packed: its byte layout is fixed at 86 bytes.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#pragma pack(push, 1)
// One corner: texture coordinates then position, so each group is a contiguous float array.
struct QuadCorner {
  float u;
  float v;
  float x;
  float y;
  float z;
};

// The blend byte of an alpha-blended record; every other value draws opaque.
constexpr uint8_t kBlendAlpha = 1;

struct QuadRecord {
  int32_t textureIndex;      // slot of the TextureTable
  uint8_t blend;             // kBlendAlpha: alpha-blended; anything else: opaque
  uint8_t counterClockwise;  // 1: a counter-clockwise winding line (record_format.h); not drawn
  QuadCorner corners[4];     // in drawing order
};
#pragma pack(pop)

static_assert(sizeof(QuadCorner) == 20, "a corner is five packed floats");
static_assert(sizeof(QuadRecord) == 86, "a quad record is 86 packed bytes");
static_assert(offsetof(QuadRecord, textureIndex) == 0, "textureIndex at offset 0");
static_assert(offsetof(QuadRecord, blend) == 4, "blend at offset 4");
static_assert(offsetof(QuadRecord, counterClockwise) == 5, "counterClockwise at offset 5");
static_assert(offsetof(QuadRecord, corners) == 6, "corners at offset 6");

// The fields of a packed record are not 4-byte aligned; these hand the float groups out as
// plain pointers for GL's *fv calls without forming a misaligned reference in our own code.
inline const float* CornerTexCoord(const QuadRecord& record, int corner) {
  return reinterpret_cast<const float*>(reinterpret_cast<const unsigned char*>(&record) +
                                        offsetof(QuadRecord, corners) +
                                        corner * sizeof(QuadCorner) + offsetof(QuadCorner, u));
}
inline const float* CornerPosition(const QuadRecord& record, int corner) {
  return reinterpret_cast<const float*>(reinterpret_cast<const unsigned char*>(&record) +
                                        offsetof(QuadRecord, corners) +
                                        corner * sizeof(QuadCorner) + offsetof(QuadCorner, x));
}

// Storage for large tables: blocks of 2 MiB and more are 2 MiB-aligned and advised as huge
// pages, so filling a table of a million records takes dozens of page faults, not tens of
// thousands. Smaller blocks come from operator new.
void* AllocateTableStorage(size_t bytes);
void ReleaseTableStorage(void* storage, size_t bytes);

template <class T>
struct TableAllocator {
  using value_type = T;
  TableAllocator() = default;
  template <class U>
  TableAllocator(const TableAllocator<U>&) {}
  T* allocate(size_t count) { return static_cast<T*>(AllocateTableStorage(count * sizeof(T))); }
  // Default-initialises: a table sized for records still to come touches none of its pages
  // (new storage reads as zeros; the reader then writes every record whole).
  template <class U>
  void construct(U* at) noexcept {
    ::new (static_cast<void*>(at)) U;
  }
  template <class U, class... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
  void deallocate(T* storage, size_t count) { ReleaseTableStorage(storage, count * sizeof(T)); }
  template <class U>
  bool operator==(const TableAllocator<U>&) const {
    return true;
  }
  template <class U>
  bool operator!=(const TableAllocator<U>&) const {
    return false;
  }
};

// Records 0 to count - 1 are complete and drawn in table order. `records` may hold more
// storage than `count` covers; a reader stores every field before it raises `count`.
struct QuadTable {
  std::vector<QuadRecord, TableAllocator<QuadRecord>> records;
  int32_t count = 0;
};

constexpr int kTextureSlots = 1024;
// Slot i holds the GL texture made from image number i; 0 names no texture (drawn untextured).
using TextureTable = std::array<uint32_t, kTextureSlots>;

constexpr float kStartPanX = 0.01f;
constexpr float kStartPanY = 0.0f;
constexpr float kStartDistance = -2.48f;
// The viewer's vertical field of view.
constexpr double kFieldOfViewDegrees = 45.0;

// Camera translation (panX, panY, distance) and rotation in degrees (tilt about x, spin about z).
struct CameraState {
  float panX = kStartPanX;
  float panY = kStartPanY;
  float distance = kStartDistance;
  float tilt = 0.0f;
  float spin = 0.0f;
};

// The records a table draws: `count` of them, never more than its storage holds (a reader
// never lets `count` pass it; the clamp guards a table built by hand).
inline size_t DrawnQuadCount(const QuadTable& quads) {
  return std::min(static_cast<size_t>(std::max<int32_t>(quads.count, 0)), quads.records.size());
}

// A record whose 20 values are all finite (the only kind glTF accessors may hold).
bool IsFiniteRecord(const QuadRecord& record);

// The texture a record draws with: its slot's, or 0 (untextured) for a slot outside the table.
inline uint32_t TextureNameOf(const QuadRecord& record, const TextureTable& textures) {
  const uint32_t slot = static_cast<uint32_t>(record.textureIndex);
  return slot < static_cast<uint32_t>(kTextureSlots) ? textures[slot] : 0;
}
