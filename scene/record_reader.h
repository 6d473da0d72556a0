// Reads a run of quad-list records one by one, exactly as the format defines them: the
// one-pass routes where a line takes them, the tokenizer route (and its messages and trace
// lines) for everything else, lines too long to hold in pieces. The whole file read this way
// is the reader itself; the parallel reader hands it the records its workers leave.
#pragma once

#include <cstdint>
#include <string>

#include "scene/quad_list_reading.h"
#include "scene/record_routes.h"
#include "scene/scene_types.h"

// Where a run of records starts in the file, and where it stops.
struct RecordRun {
  int64_t offset = 0;         // the byte offset of its first record, a line's start
  int32_t firstRecord = 0;    // that record's index in the table (its header is on line
                              // 6 * firstRecord + 1)
  int64_t endRecord = -1;     // it stops before this record; -1: at the end of the file
  bool maxAnnounced = false;  // SetProgressMax was called for this read already
};

// Reads the records of `run` from the file at `path` into `table`, reporting progress after
// each, and keeps `count` on the records read. The run from record 0 to the end of the file is
// the whole reader: it starts the table and sizes it as the file suggests; any other run
// writes into a table sized for it (and appends past its end). On failure the error
// propagates with the file and line, and `count` covers the records before the failing one.
// Returns true when the file ended within the run (it may end early: blank lines).
bool ReadRecordRun(const std::string& path, const RecordRun& run, const TextureNumbering& numbering,
                   QuadTable& table, QuadListProgress& progress);
