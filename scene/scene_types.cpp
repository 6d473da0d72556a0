// Table storage: large blocks aligned to 2 MiB and advised as transparent huge pages; and
// what a record's values say of it.
#include "scene/scene_types.h"

#include <sys/mman.h>

#include <cmath>
#include <cstdlib>
#include <new>

namespace {
constexpr size_t kHugePageBytes = size_t(2) << 20;
}  // namespace

void* AllocateTableStorage(size_t bytes) {
  if (bytes < kHugePageBytes) return ::operator new(bytes);
  const size_t rounded = (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
  void* storage = std::aligned_alloc(kHugePageBytes, rounded);
  if (storage == nullptr) throw std::bad_alloc();
  ::madvise(storage, rounded, MADV_HUGEPAGE);  // a hint: without huge pages nothing changes
  return storage;
}

void ReleaseTableStorage(void* storage, size_t bytes) {
  if (bytes < kHugePageBytes) {
    ::operator delete(storage);
  } else {
    std::free(storage);
  }
}

bool IsFiniteRecord(const QuadRecord& record) {
  for (const QuadCorner& corner : record.corners) {
    const float values[5] = {corner.u, corner.v, corner.x, corner.y, corner.z};
    for (float value : values) {
      if (!std::isfinite(value)) return false;
    }
  }
  return true;
}
