// Import's ordering stage: records in the order they were exported, or in the painter's
// order for a viewer without a depth test.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "interchange/stages.h"

namespace {

// Squared distance of a record's corner centroid from the start camera's eye, in file
// coordinates (the stored z is negated).
double DistanceSquaredFromStart(const QuadRecord& record) {
  const CameraState start;
  const double eye[3] = {start.panX, -static_cast<double>(start.panY),
                         -static_cast<double>(start.distance)};
  double centre[3] = {0, 0, 0};
  for (const QuadCorner& corner : record.corners) {
    centre[0] += corner.x / 4.0;
    centre[1] += corner.y / 4.0;
    centre[2] += -corner.z / 4.0;
  }
  double sum = 0;
  for (int k = 0; k < 3; ++k) sum += (centre[k] - eye[k]) * (centre[k] - eye[k]);
  return std::isnan(sum) ? 0 : sum;
}

// The painter's order for records `first` onwards.
void OrderFarFirst(ImportedScene& scene, size_t first) {
  auto& records = scene.records.records;
  std::vector<double> distance(records.size());
  for (size_t i = first; i < records.size(); ++i)
    distance[i] = DistanceSquaredFromStart(records[i]);
  std::vector<size_t> order(records.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin() + static_cast<long>(first), order.end(), [&](size_t a, size_t b) {
    const bool translucentA = records[a].blend == kBlendAlpha,
               translucentB = records[b].blend == kBlendAlpha;
    if (translucentA != translucentB) return translucentB;  // opaque ones first
    return distance[a] > distance[b];
  });
  std::vector<QuadRecord, TableAllocator<QuadRecord>> sorted;
  sorted.reserve(records.size());
  for (size_t i : order) sorted.push_back(records[i]);
  records.swap(sorted);
}

}  // namespace

void OrderRecords(ImportedScene& scene, ModelKind kind, RecordOrder order) {
  if (order == RecordOrder::kFarFirst) {
    OrderFarFirst(scene, 0);
  } else if (order == RecordOrder::kAuto && kind != ModelKind::kOwnExport) {
    OrderFarFirst(scene, static_cast<size_t>(scene.taggedRecords));
  }
}
