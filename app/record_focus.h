// The record a person works on in the viewer: the one picked by a still click or by going to
// its number, marked on top of the frame, and the view of its slot's records alone. Module
// state over the scene's quad table; GL through render/, no toolkit.
#pragma once

#include <cstdint>
#include <string>

#include "scene/scene_types.h"

// The picked record's index in the scene's table, or -1.
int32_t PickedRecord();
void ClearPick();

// Picks the record drawn at pixel (x, y) of a view `height` pixels high (top-left origin)
// for `camera`: the last one drawn that covers it, among the records drawn now. False, with
// the pick cleared, where none is drawn. Needs the view's GL context current.
bool PickAt(const CameraState& camera, const QuadTable& quads, int height, int x, int y);

// Picks record `index` of `quads`; false when there is none such.
bool PickRecord(const QuadTable& quads, int32_t index);

// The records drawn now: the whole table, or while isolated those of the picked slot alone.
const QuadTable& DrawnRecords(const QuadTable& quads);

// Draws the picked record's outline over the frame (nothing without a pick).
void DrawPickMark(const CameraState& camera, const QuadTable& quads);

// i: isolates the picked record's slot, or shows all again. False when there is no pick.
bool ToggleIsolation(const QuadTable& quads);
bool Isolated();
int32_t IsolatedSlot();

// After a load into `quads`: the pick stays on its index while the table has one, and an
// isolated view is made again from the new records.
void KeepFocusAfterLoad(const QuadTable& quads);

// The picked record's line ("FILE:LINE: record N: ..."), or "" without a pick.
std::string PickedRecordLine(const std::string& scenePath, const QuadTable& quads);
