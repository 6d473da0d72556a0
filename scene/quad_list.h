// Quad-list reader: streams a quad-list file (six lines a quad) into a QuadTable, reporting
// progress in 128-byte blocks. Errors are SceneErrors carrying the file and line number.
#pragma once

#include <cstdint>
#include <string>

#include "scene/quad_list_reading.h"
#include "scene/scene_types.h"

// Reads the file at `path` into `table` from record 0. On failure the records completed
// before it stay in `table` and `count` covers exactly them; the error propagates. Running
// out of memory fails with "Not enough memory reading %s". Texture numbers are read as the
// file's name says (TextureNumberOffset), or, given `textureNumberOffset`, read whatever the
// name and shifted by that offset. The read may run on `threads` threads, with the same
// results; progress then reports the position after each run of records the workers finish
// (positions the one-thread read reports too, ending on the same one), and pending messages
// run in between.
void ReadQuadList(const std::string& path, QuadTable& table, QuadListProgress& progress,
                  const int32_t* textureNumberOffset = nullptr, int threads = kAutomaticThreads);

// The file-name part of `path` (after the last '/'), lower-cased A to Z.
std::string LowerFileName(const std::string& path);

// The file names whose texture numbers are read, as messages list them: "A, B or C".
std::string TextureNumberFileNames();

// For those file names (compared lower-cased), the number a file stores for slot 0
// (slot = number - offset); false for every other name, whose quads all use slot 0. The
// name ReadTextureNumbersAs set, if any, stands for every path's own.
bool TextureNumberOffset(const std::string& path, int32_t& offset);

// The rule alone, for `path`'s own name whatever ReadTextureNumbersAs set.
bool NamedTextureNumberOffset(const std::string& path, int32_t& offset);

// --as NAME: from now on every file's texture numbers are read, and written, as a file named
// NAME (one of the names above, in any case, without a folder) has them; the texture folder
// stays the file's own. False, changing nothing, for any other name.
bool ReadTextureNumbersAs(const std::string& name);
