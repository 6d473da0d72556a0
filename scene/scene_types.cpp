// Table storage: large blocks aligned to 2 MiB and advised as transparent huge pages.
#include "scene/scene_types.h"

#include <sys/mman.h>

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
