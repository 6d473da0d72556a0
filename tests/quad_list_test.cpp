// Quad-list reader: record fields, texture-number mapping, line ends, failures with their exact
// messages and lines, progress reports, and the table kept consistent after a failure.
#include "scene/quad_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "scene/line_reader.h"
#include "scene/scene_error.h"
#include "scene/text_parser.h"
#include "tests/test_files.h"

namespace {

const char* const kCorners =
    "0.25, 0.75, 1.5, -2, 3\r\n"
    "1 0 1 1 1\r\n"
    "1 1 2 2 2\r\n"
    "0 1 3 3 3\r\n";

std::string Record(const std::string& header, const std::string& winding = "CW") {
  return header + "\r\n" + winding + "\r\n" + kCorners;
}

class RecordingProgress : public QuadListProgress {
 public:
  void SetProgressMax(int32_t blocks) override { calls.push_back("max " + std::to_string(blocks)); }
  void SetProgressPosition(int32_t blocks) override {
    calls.push_back("position " + std::to_string(blocks));
  }
  void ProcessPendingMessages() override { calls.push_back("messages"); }
  std::vector<std::string> calls;
};

std::vector<std::string> traces;
void CollectTrace(const std::string& text) {
  traces.push_back(text);
}

class QuadListReader : public ::testing::Test {
 protected:
  void SetUp() override {
    traces.clear();
    SetParserTraceSink(CollectTrace);
  }
  void TearDown() override { SetParserTraceSink(nullptr); }

  // Writes `content` as `name` and reads it; returns the error message or "" on success.
  std::string Read(const std::string& name, const std::string& content) {
    path = dir.File(name);
    WriteFile(path, content);
    try {
      ReadQuadList(path, table, progress);
    } catch (const SceneError& error) {
      errorLine = error.line();
      errorFile = error.file();
      return error.what();
    }
    return "";
  }
  const QuadRecord& At(int i) const { return table.records[static_cast<size_t>(i)]; }

  TempDir dir;
  std::string path;
  QuadTable table;
  RecordingProgress progress;
  int errorLine = 0;
  std::string errorFile;
};

TEST_F(QuadListReader, StoresEveryFieldWithZNegated) {
  ASSERT_EQ(Read("nyc.map", Record("10 1", "CCW")), "");
  ASSERT_EQ(table.count, 1);
  const QuadRecord& q = At(0);
  EXPECT_EQ(+q.textureIndex, 7);
  EXPECT_EQ(+q.blend, 1);
  EXPECT_EQ(+q.counterClockwise, 1);
  EXPECT_EQ(+q.corners[0].u, 0.25f);
  EXPECT_EQ(+q.corners[0].v, 0.75f);
  EXPECT_EQ(+q.corners[0].x, 1.5f);
  EXPECT_EQ(+q.corners[0].y, -2.0f);
  EXPECT_EQ(+q.corners[0].z, -3.0f);
  EXPECT_EQ(+q.corners[3].u, 0.0f);
  EXPECT_EQ(+q.corners[3].z, -3.0f);
}

TEST_F(QuadListReader, TextureNumberShiftDependsOnTheFileName) {
  const std::string content = Record("10 0 extra tokens");
  ASSERT_EQ(Read("nyc.map", content), "");
  EXPECT_EQ(+At(0).textureIndex, 7);
  ASSERT_EQ(Read("sanb.map", content), "");
  EXPECT_EQ(+At(0).textureIndex, 8);
  ASSERT_EQ(Read("miami.map", content), "");
  EXPECT_EQ(+At(0).textureIndex, 7);
  ASSERT_EQ(Read("NYC.MAP", content), "");
  EXPECT_EQ(+At(0).textureIndex, 7);
  ASSERT_EQ(Read("other.map", content), "");
  EXPECT_EQ(+At(0).textureIndex, 0);
  // Other files never read token 0, so it need not be a number.
  ASSERT_EQ(Read("other.map", Record("junk 1")), "");
  EXPECT_EQ(+At(0).blend, 1);
  ASSERT_EQ(Read("nyc.map", Record("0x10, 1")), "");
  EXPECT_EQ(+At(0).textureIndex, 13);
  ASSERT_EQ(Read("nyc.map", Record("1 0")), "");
  EXPECT_EQ(+At(0).textureIndex, -2);
  EXPECT_EQ(Read("nyc.map", Record("-$10 1")), "'-$10' is not a valid integer value");
  ASSERT_EQ(Read("nyc.map", Record("-2147483648,+2")), "");
  EXPECT_EQ(+At(0).textureIndex, 2147483645);  // wraps like 32-bit arithmetic
  EXPECT_EQ(+At(0).blend, 2);
  ASSERT_EQ(Read("other.map", Record("99999999999 1")), "");
  EXPECT_EQ(Read("nyc.map", Record("99999999999 1")), "'99999999999' is not a valid integer value");
  EXPECT_EQ(Read("nyc.map", Record("2147483648 1")), "'2147483648' is not a valid integer value");
}

TEST_F(QuadListReader, BlendKeepsTheLowEightBitsAndWindingMustBeExactlyCCW) {
  ASSERT_EQ(Read("a.map", Record("0 257") + Record("0 -1", "ccw") + Record("0 2", "CCW ")), "");
  ASSERT_EQ(table.count, 3);
  EXPECT_EQ(+At(0).blend, 1);
  EXPECT_EQ(+At(1).blend, 255);
  EXPECT_EQ(+At(2).blend, 2);
  EXPECT_EQ(+At(0).counterClockwise, 0);
  EXPECT_EQ(+At(1).counterClockwise, 0);
  EXPECT_EQ(+At(2).counterClockwise, 0);
}

TEST_F(QuadListReader, LinesEndAtCrLfLoneCrAndLoneLf) {
  const std::string crlf = Record("3 1", "CCW") + Record("4 0");
  std::string cr, lf, mixed;
  for (size_t i = 0; i < crlf.size(); ++i) {
    if (crlf[i] == '\r') continue;
    cr += crlf[i] == '\n' ? '\r' : crlf[i];
    lf += crlf[i];
  }
  ASSERT_EQ(Read("nyc.map", crlf), "");
  const std::vector<QuadRecord> expected(table.records.begin(), table.records.end());
  for (const std::string& content : {cr, lf}) {
    ASSERT_EQ(Read("nyc.map", content), "");
    ASSERT_EQ(table.count, 2);
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(std::memcmp(&At(i), &expected[static_cast<size_t>(i)], sizeof(QuadRecord)), 0);
    }
  }
}

TEST_F(QuadListReader, CornerNumbersReadTheSameInEveryForm) {
  // Plain decimals, exponents, signs, quotes, long mantissas and extra tokens.
  const std::string content =
      "0 1\r\nCW\r\n"
      "1e2 \"2\" +.5 -0 3.\r\n"
      "\t0.1,,0.2 , 0.30000001192092896 12345678901234567890 -7 ignored \"\r\n"
      "1.000000059604644775390625 16777217 1E39 -1E39 5,6\r\n"
      "\"1 2\" 1 1 1 1 1\r\n";
  ASSERT_EQ(Read("a.map", content), "'1,2' is not a valid floating point value");
  EXPECT_EQ(errorLine, 6);
  ASSERT_EQ(Read("a.map", content.substr(0, content.rfind("\"1 2\"")) + "0 0 0 0 0\r\n"), "");
  const QuadRecord& q = At(0);
  EXPECT_EQ(+q.corners[0].u, 100.0f);
  EXPECT_EQ(+q.corners[0].v, 2.0f);
  EXPECT_EQ(+q.corners[0].x, 0.5f);
  EXPECT_EQ(+q.corners[0].y, -0.0f);
  EXPECT_TRUE(std::signbit(q.corners[0].y));
  EXPECT_EQ(+q.corners[0].z, -3.0f);
  EXPECT_EQ(+q.corners[1].u, 0.1f);
  EXPECT_EQ(+q.corners[1].v, 0.2f);
  EXPECT_EQ(+q.corners[1].x, 0.3f);
  EXPECT_EQ(+q.corners[1].y, 12345678901234567890.0f);
  EXPECT_EQ(+q.corners[1].z, 7.0f);
  EXPECT_EQ(+q.corners[2].u, 1.0f);         // a tie between two floats, decided by the
  EXPECT_EQ(+q.corners[2].v, 16777216.0f);  // extended value: both round to even
  EXPECT_TRUE(std::isinf(q.corners[2].x));
  EXPECT_TRUE(std::isinf(q.corners[2].y) && q.corners[2].y < 0);
  EXPECT_EQ(+q.corners[2].z, -5.0f);
}

TEST_F(QuadListReader, CtrlZEndsTheFile) {
  ASSERT_EQ(Read("a.map", Record("0 1") + "\x1a" + "garbage that is never read"), "");
  EXPECT_EQ(table.count, 1);
  ASSERT_EQ(Read("a.map", Record("0 1") + "0 2\r\nCW\r\n0 0 0\x1a 0 0\r\n"),
            "'' is not a valid floating point value");
  EXPECT_EQ(table.count, 1);
}

TEST_F(QuadListReader, MissingCoordinateFailsWithEmptyText) {
  const std::string content =
      Record("0 1") + "0 1\r\nCW\r\n1 2 3 4 5\r\n6 7 8 9\r\n1 1 1 1 1\r\n1 1 1 1 1\r\n";
  EXPECT_EQ(Read("nyc.map", content), "'' is not a valid floating point value");
  EXPECT_EQ(errorLine, 10);
  EXPECT_EQ(errorFile, path);
  EXPECT_EQ(table.count, 1);
}

TEST_F(QuadListReader, FileEndingInsideARecordFailsOnTheFirstMissingCoordinate) {
  EXPECT_EQ(Read("a.map", Record("0 1") + "0 1\r\nCW\r\n1 2 3 4 5\r\n"),
            "'' is not a valid floating point value");
  EXPECT_EQ(errorLine, 10);
  EXPECT_EQ(table.count, 1);
  EXPECT_EQ(Read("a.map", "0 1\r\n"), "'' is not a valid floating point value");
  EXPECT_EQ(errorLine, 3);
  EXPECT_EQ(table.count, 0);
}

TEST_F(QuadListReader, BadTokensFailWithTheirTextAndLine) {
  EXPECT_EQ(Read("a.map", Record("0 1") + Record("0 1.5")), "'1.5' is not a valid integer value");
  EXPECT_EQ(errorLine, 7);
  EXPECT_EQ(table.count, 1);
  EXPECT_EQ(Read("a.map", "0 1\r\nCW\r\n0 0 0 abc 0\r\n"),
            "'abc' is not a valid floating point value");
  EXPECT_EQ(errorLine, 3);
}

TEST_F(QuadListReader, BlankLinesAfterTheLastRecordEndTheFile) {
  ASSERT_EQ(Read("a.map", Record("0 1") + "\r\n  \r\n\t\n\r\n"), "");
  EXPECT_EQ(table.count, 1);
  ASSERT_EQ(Read("a.map", ""), "");
  EXPECT_EQ(table.count, 0);
  ASSERT_EQ(Read("a.map", " \r\n\r\n"), "");
  EXPECT_EQ(table.count, 0);
}

TEST_F(QuadListReader, BlankLineBetweenRecordsFailsAtThatLine) {
  EXPECT_EQ(Read("a.map", Record("0 1") + "\r\n\r\n" + Record("0 1")),
            "'' is not a valid integer value");
  EXPECT_EQ(errorLine, 7);
  EXPECT_EQ(table.count, 1);
}

TEST_F(QuadListReader, HugeValuesBecomeInfinities) {
  ASSERT_EQ(
      Read("a.map", "0 1\r\nCW\r\n1E39 0 0 0 1E39\r\n0 0 0 0 0\r\n0 0 0 0 0\r\n0 0 0 0 0\r\n"), "");
  EXPECT_TRUE(std::isinf(At(0).corners[0].u) && At(0).corners[0].u > 0);
  EXPECT_TRUE(std::isinf(At(0).corners[0].z) && At(0).corners[0].z < 0);
}

TEST_F(QuadListReader, ProgressCountsBlocksOf128BytesAfterEveryRecord) {
  std::string content = Record("0 1") + Record("0 1") + Record("0 1");
  content += std::string(1000 - content.size() - 2, ' ') + "\r\n";
  ASSERT_EQ(content.size(), 1000u);
  ASSERT_EQ(Read("a.map", content), "");
  const size_t recordBytes = Record("0 1").size();
  EXPECT_EQ(progress.calls,
            (std::vector<std::string>{
                "max 7", "position " + std::to_string(recordBytes / 128), "messages",
                "position " + std::to_string(2 * recordBytes / 128), "messages",
                "position " + std::to_string(3 * recordBytes / 128), "messages"}));
  progress.calls.clear();
  ASSERT_EQ(Read("a.map", Record("0 1") + std::string(1000 - recordBytes, 'x')),
            "'' is not a valid integer value");
  EXPECT_EQ(progress.calls.front(), "max 7");
}

TEST_F(QuadListReader, MissingFileOrFolderCannotBeOpened) {
  const std::string missing = dir.File("none.map");
  try {
    ReadQuadList(missing, table, progress);
    FAIL() << "no error";
  } catch (const SceneError& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot open file " + missing);
    EXPECT_EQ(FormatDiagnostic(error), missing + ": Cannot open file " + missing);
  }
  try {
    ReadQuadList(dir.path(), table, progress);
    FAIL() << "no error";
  } catch (const SceneError& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot open file " + dir.path());
  }
}

TEST_F(QuadListReader, DiagnosticNamesFileAndLine) {
  Read("bad.map", "0 x\r\n");
  try {
    ReadQuadList(path, table, progress);
  } catch (const SceneError& error) {
    EXPECT_EQ(FormatDiagnostic(error), path + ":1: 'x' is not a valid integer value");
  }
}

TEST_F(QuadListReader, ManyShortRecordsOutgrowTheReservedRoom) {
  std::string content;
  for (int i = 0; i < 5000; ++i)
    content += "0 1\nCW\n0 0 0 0 " + std::to_string(i) + "\n0 0 0 0 0\n0 0 0 0 0\n0 0 0 0 0\n";
  ASSERT_EQ(Read("a.map", content), "");
  ASSERT_EQ(table.count, 5000);
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(+At(i).corners[0].z, -static_cast<float>(i));
}

TEST_F(QuadListReader, LinesLongerThanTheReadBufferAndCrLfSplitAcrossReads) {
  // The first corner line carries a 3 MB trailing token; CR LF pairs land on buffer edges.
  for (size_t pad : {size_t(1) << 20, (size_t(1) << 20) - 1, (size_t(1) << 20) - 2}) {
    std::string header = "0 1";
    header += std::string(pad - header.size() - 1, ' ');
    std::string content = header + "\r\nCW\r\n0 0 0 0 7 " + std::string(3 << 20, 'q') +
                          "\r\n0 0 0 0 0\r\n0 0 0 0 0\r\n0 0 0 0 0\r\n" + Record("0 2");
    ASSERT_EQ(Read("a.map", content), "") << pad;
    ASSERT_EQ(table.count, 2);
    EXPECT_EQ(+At(0).corners[0].z, -7.0f);
    EXPECT_EQ(+At(1).blend, 2);
  }
}

TEST_F(QuadListReader, ContentAfterBlankLinesFailsAtTheFirstBlankLine) {
  EXPECT_EQ(Read("a.map", Record("0 1") + "\r\n \r\n7 1\r\n"), "'' is not a valid integer value");
  EXPECT_EQ(errorLine, 7);
  EXPECT_EQ(table.count, 1);
  EXPECT_EQ(traces, (std::vector<std::string>{"indexed failed at 1, text is: "}));
}

// Every missing token the reader asks for leaves the tokenizer's trace line, then fails.
TEST_F(QuadListReader, MissingTokensWriteTheTraceLine) {
  EXPECT_EQ(Read("other.map", Record("10")), "'' is not a valid integer value");
  EXPECT_EQ(Read("nyc.map", "\"\"\r\n"), "'' is not a valid integer value");
  EXPECT_EQ(Read("a.map", "0 1\r\nCW\r\n1,2 \"3\" 4\r\n"),
            "'' is not a valid floating point value");
  EXPECT_EQ(traces, (std::vector<std::string>{"indexed failed at 1, text is: 10",
                                              "indexed failed at 0, text is: ",
                                              "indexed failed at 4, text is: 1,2,3,4"}));
}

// Lines longer than the reader holds are scanned piece by piece: the same records, the same
// messages, progress between the pieces.
TEST_F(QuadListReader, LinesLongerThanTheReaderHoldsReadTheSame) {
  const std::string longTail(kLineHoldBytes + 12345, ' ');
  const std::string zeros(kLineHoldBytes + 777, '0');
  const std::string content = "2 1 " + longTail + "9 9\r\nCCW" + longTail + "\r\n" + zeros +
                              "0.5 " + zeros + "2 3 4 5" + longTail + "\r\n1 1 1 1 1\r\n" +
                              "1 1 1 1 1\r\n1 1 1 1 " + zeros + "\r\n" + longTail + "\r\n";
  ASSERT_EQ(Read("nyc.map", content), "");
  ASSERT_EQ(table.count, 1);
  EXPECT_EQ(+At(0).textureIndex, -1);
  EXPECT_EQ(+At(0).blend, 1);
  EXPECT_EQ(+At(0).counterClockwise, 0);
  EXPECT_EQ(+At(0).corners[0].u, 0.5f);
  EXPECT_EQ(+At(0).corners[0].v, 2.0f);
  EXPECT_EQ(+At(0).corners[3].z, -0.0f);
  EXPECT_GT(std::count(progress.calls.begin(), progress.calls.end(), "messages"), 10);
  EXPECT_EQ(Read("a.map", Record("0 1") + longTail + "\r\n5 5\r\n"),
            "'' is not a valid integer value");
  EXPECT_EQ(errorLine, 7);
  EXPECT_EQ(Read("a.map", "0 1\r\nCW\r\n1 2 " + zeros + "x"),
            "'" + zeros.substr(0, 100) + "...' is not a valid floating point value");
  EXPECT_EQ(errorLine, 3);
}

TEST_F(QuadListReader, OnlyRegularFilesAreOpenedAndReadErrorsFail) {
  const std::string fifo = dir.File("pipe.map");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  try {
    ReadQuadList(fifo, table, progress);  // would block in open() if it were opened
    FAIL() << "no error";
  } catch (const SceneError& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot open file " + fifo);
  }
  // A regular file whose first read fails (nothing is mapped at address 0).
  try {
    ReadQuadList("/proc/self/mem", table, progress);
    FAIL() << "no error";
  } catch (const SceneError& error) {
    EXPECT_EQ(FormatDiagnostic(error),
              "/proc/self/mem:1: Cannot read file /proc/self/mem (Input/output error)");
  }
}

// What a read gives that anyone can see: the table, the message and line, the trace lines,
// the last progress position.
struct ReadResult {
  std::string error;
  int line = 0;
  int32_t count = 0;
  std::vector<QuadRecord> records;
  std::vector<std::string> traces;
  std::string lastPosition;
};

ReadResult ReadOn(const std::string& path, int threads) {
  ReadResult result;
  RecordingProgress progress;
  QuadTable table;
  traces.clear();
  try {
    ReadQuadList(path, table, progress, nullptr, threads);
  } catch (const SceneError& error) {
    result.error = error.what();
    result.line = error.line();
  }
  result.count = table.count;
  result.records.assign(table.records.begin(), table.records.end());
  result.traces = traces;
  for (const std::string& call : progress.calls) {
    if (call.rfind("position ", 0) == 0) result.lastPosition = call;
  }
  return result;
}

// Every number of threads reads every file as one thread does: each kind of line the workers
// leave to the record-by-record reader, put at the first record, between the cuts and at
// the last, in files whose records the threads cut into many runs.
TEST_F(QuadListReader, EveryThreadCountReadsTheSame) {
  const std::string longLine(kLineHoldBytes / 3, ' ');  // more than a worker's window
  const std::string specials[] = {
      "\"5\" 1\r\nCW\r\n" + std::string(kCorners),               // the tokenizer's header route
      "1 2\rCCW\r1 2 3 4 5\r1 2 3 4 5\r1 2 3 4 5\r1 2 3 4 5\r",  // lone CRs
      "1 2\nCCW\n1 2 3 4 5\n1 2 3 4 5\n1 2 3 4 5\n1 2 3 4 5\n",  // lone LFs
      "3 1" + longLine + "\r\nCW\r\n" + std::string(kCorners),
      "3 1\r\nCW\r\n1 2 3 4 x\r\n" + std::string(kCorners),        // a bad number
      "3 1\r\nCW\r\n1 2 3 4\r\n" + std::string(kCorners),          // a missing one: a trace
      std::string("3 1\r\nCW\r\n1 2\0 3 4 5\r\n", 19) + kCorners,  // a NUL
      "\r\n\r\n",                       // blank lines: the end, or a failure
      std::string("\x1A") + "0 1\r\n",  // a Ctrl+Z ends the text
      "4 0\r\nCW\r\n1 2 3 4 5\r\n",     // cut short
  };
  std::vector<std::string> records;
  for (int i = 0; i < 40; ++i)
    records.push_back(Record(std::to_string(i % 9) + " " + std::to_string(i)));
  for (const std::string& special : specials) {
    for (const size_t at : {size_t(0), size_t(7), size_t(39), size_t(40)}) {
      std::string content;
      for (size_t i = 0; i < records.size(); ++i) content += (i == at ? special : "") + records[i];
      if (at == records.size()) content += special;
      for (const char* name : {"nyc.map", "other.map"}) {
        path = dir.File(name);
        WriteFile(path, content);
        const ReadResult one = ReadOn(path, 1);
        for (const int threads : {2, 3, 8}) {
          SCOPED_TRACE(std::string(name) + " special at " + std::to_string(at) + " on " +
                       std::to_string(threads) + " threads: " + special.substr(0, 20));
          const ReadResult many = ReadOn(path, threads);
          EXPECT_EQ(many.error, one.error);
          EXPECT_EQ(many.line, one.line);
          EXPECT_EQ(many.traces, one.traces);
          EXPECT_EQ(many.lastPosition, one.lastPosition);
          ASSERT_EQ(many.count, one.count);
          ASSERT_EQ(many.records.size(), static_cast<size_t>(many.count));
          if (one.count > 0) {  // memcmp takes no null pointer, even for no bytes
            EXPECT_EQ(std::memcmp(many.records.data(), one.records.data(),
                                  one.records.size() * sizeof(QuadRecord)),
                      0);
          }
        }
      }
    }
  }
}

}  // namespace

namespace {

std::vector<std::string> routeTraces;
void CollectRouteTrace(const std::string& text) {
  routeTraces.push_back(text);
}

// A corner line read by the reader (its one-pass route where it takes the line, the long-line
// route when padded past what the reader holds) gives exactly what the tokenizer's own
// conversions give: the same bits, the same message, the same trace line.
TEST(CornerLine, EveryRouteAgreesWithTheTokenizer) {
  const std::string_view lines[] = {
      "0.2500 1.0000 -123.456789 -0.600000 -45.678901",
      ",,1\t2 ,3,4 5 extra \"tokens\"",
      "1e2 2 3 4 5",
      "16777217 1.000000059604644775390625 0 0 0",
      "\"1\" 2 3 4 5",
      "1 2 3 4",
      std::string_view("1 2\0 3 4 5", 10),
      "1 2 3 4 x",
      "-.5 +3. 1E600 -0 00012345678901234567890",
  };
  TempDir dir;
  SetParserTraceSink(CollectRouteTrace);
  for (const std::string_view line : lines) {
    // The tokenizer route, as the reference.
    routeTraces.clear();
    std::string expectedError;
    float expected[5] = {};
    ParseLine(line);
    try {
      for (int32_t i = 0; i < 5; ++i) expected[i] = GetFloatToken(i);
    } catch (const SceneError& error) {
      expectedError = error.what();
    }
    const std::vector<std::string> expectedTraces = routeTraces;
    for (const bool padded : {false, true}) {
      std::string corner(line);
      if (padded) corner += std::string(kLineHoldBytes + 100, ' ');
      std::string content = "0 1\r\nCW\r\n";
      for (int i = 0; i < 4; ++i) content += corner + "\r\n";
      WriteFile(dir.File("a.map"), content);
      routeTraces.clear();
      QuadTable table;
      NoProgress progress;
      std::string error;
      try {
        ReadQuadList(dir.File("a.map"), table, progress);
      } catch (const SceneError& e) {
        error = e.what();
      }
      EXPECT_EQ(error, expectedError) << line;
      EXPECT_EQ(routeTraces, expectedTraces) << line;
      if (!expectedError.empty()) continue;
      ASSERT_EQ(table.count, 1);
      const QuadCorner read = table.records[0].corners[3];
      const float values[5] = {read.u, read.v, read.x, read.y, -read.z};
      EXPECT_EQ(std::memcmp(values, expected, sizeof values), 0) << line << " padded " << padded;
    }
  }
  SetParserTraceSink(nullptr);
}

}  // namespace
