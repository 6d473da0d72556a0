// The pick and the isolated view. The isolated view is a table of its own holding copies of
// the slot's records with their indices in the scene's table beside them, so the renderer and
// the picker draw it as they draw any table, and a pick maps back to the scene's index.
#include "app/record_focus.h"

#include <vector>

#include "render/record_marks.h"
#include "render/record_picker.h"
#include "scene/record_place.h"

namespace {

constexpr MarkColour kPickMark{255, 0, 255};

namespace recordFocus {
int32_t picked = -1;
int32_t wanted = -1;  // the pick a person made, kept while a reload leaves the table short
bool isolated = false;
int32_t isolatedSlot = 0;
QuadTable isolatedRecords;
std::vector<int32_t> isolatedIndices;  // the scene's index of each isolated record
}  // namespace recordFocus

void Isolate(const QuadTable& quads, int32_t slot) {
  using namespace recordFocus;
  isolated = true;
  isolatedSlot = slot;
  isolatedRecords.records.clear();
  isolatedIndices.clear();
  const size_t drawn = DrawnQuadCount(quads);
  for (size_t index = 0; index < drawn; ++index) {
    if (quads.records[index].textureIndex != slot) continue;
    isolatedRecords.records.push_back(quads.records[index]);
    isolatedIndices.push_back(static_cast<int32_t>(index));
  }
  isolatedRecords.count = static_cast<int32_t>(isolatedIndices.size());
}

}  // namespace

int32_t PickedRecord() {
  return recordFocus::picked;
}

void ClearPick() {
  recordFocus::picked = recordFocus::wanted = -1;
}

bool PickAt(const CameraState& camera, const QuadTable& quads, int height, int x, int y) {
  const std::vector<int32_t> covering =
      RecordsAtPixel(camera, DrawnRecords(quads), height, x, y, false);
  ClearPick();
  if (covering.empty()) return false;
  const int32_t index = covering.back();
  recordFocus::picked = recordFocus::wanted =
      recordFocus::isolated ? recordFocus::isolatedIndices[static_cast<size_t>(index)] : index;
  return true;
}

bool PickRecord(const QuadTable& quads, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= DrawnQuadCount(quads)) return false;
  recordFocus::picked = recordFocus::wanted = index;
  return true;
}

const QuadTable& DrawnRecords(const QuadTable& quads) {
  return recordFocus::isolated ? recordFocus::isolatedRecords : quads;
}

void DrawPickMark(const CameraState& camera, const QuadTable& quads) {
  if (recordFocus::picked < 0) return;
  DrawRecordMarks(camera, quads, {recordFocus::picked}, kPickMark, false);
}

bool ToggleIsolation(const QuadTable& quads) {
  using namespace recordFocus;
  if (isolated) {
    isolated = false;
    QuadTable().records.swap(isolatedRecords.records);
    isolatedRecords.count = 0;
    std::vector<int32_t>().swap(isolatedIndices);
    return true;
  }
  if (picked < 0 || static_cast<size_t>(picked) >= DrawnQuadCount(quads)) return false;
  Isolate(quads, quads.records[static_cast<size_t>(picked)].textureIndex);
  return true;
}

bool Isolated() {
  return recordFocus::isolated;
}

int32_t IsolatedSlot() {
  return recordFocus::isolatedSlot;
}

void KeepFocusAfterLoad(const QuadTable& quads) {
  using namespace recordFocus;
  picked = wanted >= 0 && static_cast<size_t>(wanted) < DrawnQuadCount(quads) ? wanted : -1;
  if (isolated) Isolate(quads, isolatedSlot);
}

std::string PickedRecordLine(const std::string& scenePath, const QuadTable& quads) {
  const int32_t index = recordFocus::picked;
  if (index < 0 || static_cast<size_t>(index) >= DrawnQuadCount(quads)) return "";
  return RecordLine(scenePath, index, quads.records[static_cast<size_t>(index)],
                    CountTextureImages(scenePath));
}
