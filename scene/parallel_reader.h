// Reads a large quad-list file on several threads with every result the record-by-record
// reader gives: the records, `count`, every error with its line, the trace lines, which records
// stay after a failure, the progress maximum and final position. A scan on every thread
// finds where the records start; workers read runs of records on the one-pass routes straight
// into their places in the table; the calling thread hands every record a worker leaves
// (anything else: a token for the tokenizer, an error, a line too long, the file's end) to
// ReadRecordRun in order, and meanwhile reports progress and lets pending messages run.
#pragma once

#include <string>

#include "scene/quad_list_reading.h"
#include "scene/record_routes.h"
#include "scene/scene_types.h"

// The threads a read may use: the processors this process may run on.
int AvailableReaderThreads();

// Reads `path` into `table` on `threads` threads (kAutomaticThreads: AvailableReaderThreads,
// for a file large enough to gain from them). False, having called nothing and changed
// nothing, when it would not gain (fewer than two threads, a small file): the caller then
// reads record by record.
bool ReadInParallel(const std::string& path, const TextureNumbering& numbering, int threads,
                    QuadTable& table, QuadListProgress& progress);
