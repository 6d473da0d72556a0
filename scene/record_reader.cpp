// The record-by-record reader. Every field of a record is stored before `count` covers it,
// so a failed or interrupted load leaves exactly the completed records. Numbers always use
// '.'. Common lines take the one-pass routes, which give exactly the tokenizer route's
// values; anything else, and every line too long to hold, goes through the tokenizer.
#include "scene/record_reader.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

#include "scene/file_access.h"
#include "scene/line_reader.h"
#include "scene/record_format.h"
#include "scene/scene_error.h"
#include "scene/text_parser.h"

namespace {

// The smallest reservation worth trying when the up-front one cannot be had.
constexpr size_t kMinimumReservedRecords = 1024;
// After this many records the bytes a record takes are known well enough to size the table
// for the whole file, while so little of it is filled that growing it copies next to nothing.
constexpr int32_t kEstimateRecords = 4096;

bool IsBlank(std::string_view text) {
  return std::all_of(text.begin(), text.end(), IsControlOrSpace);
}

int32_t ClampToInt32(int64_t value) {
  return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

// Reserves room for `records` records, or, when memory will not have that much (a sparse
// file, an address-space limit), for half of the most it will have, so that the rest of the
// load keeps room too; the table then grows as records arrive.
void ReserveWhatCanBeHad(QuadTable& table, size_t records) {
  bool cut = false;
  for (;;) {
    try {
      table.records.reserve(records);
      break;
    } catch (const std::bad_alloc&) {
      if (records <= kMinimumReservedRecords) throw;
      records /= 2;
      cut = true;
    }
  }
  if (cut && records / 2 >= kMinimumReservedRecords) {
    table.records = decltype(table.records)();  // gives the large block back first
    table.records.reserve(records / 2);
  }
}

// The records the rest of the file implies at `bytesPerRecord`, with an eighth to spare.
size_t RecordsExpected(int64_t bytesLeft, int64_t bytesPerRecord) {
  const int64_t expected = bytesLeft / std::max<int64_t>(bytesPerRecord, 1);
  return static_cast<size_t>(std::max<int64_t>(expected + expected / 8, 1024));
}

// Once kEstimateRecords records are in, grows the table to what the file implies if the
// up-front reservation (a record per kProgressBlockBytes) falls short. Growing later would
// copy a nearly full table into a larger block, holding both at once. Best effort: when
// memory will not have that much, the table keeps growing as records arrive.
void ReserveForTheRest(QuadTable& table, int64_t bytesLeft, int64_t bytesPerRecord) {
  const size_t wanted = table.records.size() + RecordsExpected(bytesLeft, bytesPerRecord);
  if (wanted <= table.records.capacity()) return;
  try {
    table.records.reserve(wanted);
  } catch (const std::bad_alloc&) {
  }
}

// Makes room for `count + 1` records, growing towards the count the rest of the file implies
// rather than doubling, so the table's storage stays close to its contents; when that much
// cannot be had, by less, down to a small step.
void EnsureRoom(QuadTable& table, int64_t bytesLeft, int64_t bytesPerRecord) {
  if (table.records.size() < table.records.capacity()) return;
  size_t extra = RecordsExpected(bytesLeft, bytesPerRecord);
  for (;;) {
    try {
      table.records.reserve(table.records.size() + extra);
      return;
    } catch (const std::bad_alloc&) {
      if (extra <= kMinimumReservedRecords) throw;
      extra = std::max(extra / 2, kMinimumReservedRecords);
    }
  }
}

// One line of the file as the reader needs it: whole when it fits the line reader's bound,
// else scanned piece by piece with progress between the pieces.
class QuadListLines {
 public:
  // Lines from byte `offset` on, the first of them line `linesBefore` + 1 of the file.
  QuadListLines(const std::string& path, int64_t offset, int64_t linesBefore,
                QuadListProgress& progress)
      : reader_(path, offset), progress_(progress), lineNumber_(static_cast<int>(linesBefore)) {}

  LineReader& Reader() { return reader_; }
  int LineNumber() const { return lineNumber_; }

  // Reads the next line. Whole lines stay available through Text() until the next call.
  void Next() {
    ++lineNumber_;  // a read that fails fails on this line
    text_ = reader_.NextLine(complete_);
  }
  bool Complete() const { return complete_; }
  std::string_view Text() const { return text_; }

  // Splits the current line into its first `maxTokens` tokens and tells whether the line is
  // blank (codes 1 to 32 only). A long line is consumed here.
  bool Tokenize(int32_t maxTokens) {
    if (complete_) {
      ParseLine(text_, maxTokens);
      return IsBlank(text_);
    }
    BeginLinePieces(maxTokens);
    bool blank = true;
    ForEachPiece([&](std::string_view piece) {
      ParseLinePiece(piece);
      blank = blank && IsBlank(piece);
    });
    EndLinePieces();
    return blank;
  }

  // Whether the current line is blank, consuming a long one.
  bool Blank() {
    if (complete_) return IsBlank(text_);
    bool blank = true;
    ForEachPiece([&](std::string_view piece) { blank = blank && IsBlank(piece); });
    return blank;
  }

  // Skips what is left of a long line.
  void SkipRest() {
    if (!complete_) ForEachPiece([](std::string_view) {});
  }

  void ReportProgress() {
    progress_.SetProgressPosition(ClampToInt32(reader_.BytesConsumed() / kProgressBlockBytes));
    progress_.ProcessPendingMessages();
  }

 private:
  template <typename Visit>
  void ForEachPiece(Visit visit) {
    std::string_view piece = text_;
    for (;;) {
      visit(piece);
      if (complete_) break;
      ReportProgress();
      piece = reader_.NextPiece(complete_);
    }
    text_ = std::string_view();
  }

  LineReader reader_;
  QuadListProgress& progress_;
  std::string_view text_;
  bool complete_ = true;
  int lineNumber_ = 0;
};

// The header line just tokenized, through the tokenizer's own conversions; token 0 is read
// only for the file names that read texture numbers.
void ReadHeaderTokens(bool readsTextureNumber, int32_t& textureNumber, int32_t& blendMode) {
  if (readsTextureNumber) textureNumber = GetIntToken(0);
  blendMode = GetIntToken(1);
}

// The corner line just tokenized, through the tokenizer's own conversions.
QuadCorner CornerFromTokens() {
  float values[kCornerTokens];
  for (int32_t i = 0; i < kCornerTokens; ++i) values[i] = GetFloatToken(i);
  return CornerFromValues(values);
}

}  // namespace

bool ReadRecordRun(const std::string& path, const RecordRun& run, const TextureNumbering& numbering,
                   QuadTable& table, QuadListProgress& progress) {
  const bool wholeFile = run.firstRecord == 0 && run.endRecord < 0;
  if (wholeFile) {
    table.count = 0;
    table.records.clear();
  }
  QuadListLines lines(path, run.offset, int64_t{run.firstRecord} * kLinesPerRecord, progress);
  int64_t index = run.firstRecord;
  try {
    const int64_t fileSize = lines.Reader().FileSize();
    if (wholeFile) {
      ReserveWhatCanBeHad(table, static_cast<size_t>(fileSize / kProgressBlockBytes) + 1);
      if (!run.maxAnnounced) progress.SetProgressMax(ClampToInt32(fileSize / kProgressBlockBytes));
    }
    for (; run.endRecord < 0 || index < run.endRecord; ++index) {
      QuadRecord record{};
      lines.Next();
      int32_t textureNumber = 0;
      int32_t blendMode = 0;
      if (!lines.Complete() || !ReadHeaderFast(lines.Text(), textureNumber, blendMode)) {
        if (lines.Tokenize(kHeaderTokens)) {
          // Only blank lines left after the last record end the file normally; anything
          // else after them fails at the first blank line, read as a header.
          const int blankLine = lines.LineNumber();
          bool restBlank = true;
          while (restBlank && !lines.Reader().AtEnd()) {
            lines.Next();
            restBlank = lines.Blank();
          }
          if (restBlank) return true;
          try {
            ParseLine(std::string_view());  // the blank line's tokens: none
            ReadHeaderTokens(numbering.read, textureNumber, blendMode);
          } catch (const SceneError& error) {
            throw SceneError(error.what(), path, blankLine);
          }
        }
        ReadHeaderTokens(numbering.read, textureNumber, blendMode);
      }
      StoreHeader(numbering, textureNumber, blendMode, record);
      lines.Next();
      record.counterClockwise = lines.Complete() && lines.Text() == kCounterClockwiseWord ? 1 : 0;
      lines.SkipRest();
      for (QuadCorner& corner : record.corners) {
        lines.Next();
        if (!lines.Complete() || !ReadCornerFast(lines.Text(), corner)) {
          lines.Tokenize(kCornerTokens);
          corner = CornerFromTokens();
        }
      }
      if (wholeFile) {
        const int64_t consumed = lines.Reader().BytesConsumed();
        if (table.count == kEstimateRecords) {
          ReserveForTheRest(table, fileSize - consumed, consumed / (table.count + 1));
        }
        EnsureRoom(table, fileSize - consumed, consumed / (table.count + 1));
        table.records.push_back(record);
        table.count = static_cast<int32_t>(table.records.size());
      } else {
        if (static_cast<size_t>(index) < table.records.size()) {
          table.records[static_cast<size_t>(index)] = record;
        } else {
          table.records.push_back(record);
        }
        table.count = static_cast<int32_t>(index + 1);
      }
      lines.ReportProgress();
      if (lines.Reader().AtEnd()) return true;
    }
    return false;
  } catch (const SceneError& error) {
    if (error.line() > 0) throw;
    throw SceneError(error.what(), error.file().empty() ? path : error.file(), lines.LineNumber(),
                     error.reason());
  } catch (const std::bad_alloc&) {
    const SceneError memory = NotEnoughMemory(path);
    throw SceneError(memory.what(), path, lines.LineNumber());
  }
}
