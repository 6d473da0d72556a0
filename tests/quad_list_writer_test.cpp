// Quad-list writer: whatever the records hold, the file reads back to the same bits; what no
// quad-list file can hold is refused with a message.
#include "scene/quad_list_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "scene/quad_list.h"
#include "scene/scene_error.h"
#include "tests/test_files.h"

namespace {

QuadRecord RecordOf(int32_t slot, uint8_t blend, uint8_t ccw, const float (&values)[20]) {
  QuadRecord record{};
  record.textureIndex = slot;
  record.blend = blend;
  record.counterClockwise = ccw;
  std::memcpy(record.corners, values, sizeof values);
  return record;
}

TEST(QuadListWriter, EveryRecordReadsBackBitForBit) {
  const float inf = std::numeric_limits<float>::infinity();
  const float hard[20] = {
      0.0f, -0.0f,    1e-45f,      -1.17549435e-38f, 3.40282347e38f, inf,         -inf,
      0.1f, 1.0f / 3, 16777216.0f, 16777217.0f,      1e-7f,          123456.789f, -2.5e-30f,
      7.0f, 0.5f,     -1e20f,      1e-10f,           2.0f,           -0.0f};
  QuadTable table;
  table.records.push_back(RecordOf(0, 0, 0, hard));
  table.records.push_back(RecordOf(-3, 255, 1, hard));  // number 0 in nyc.map
  table.records.push_back(RecordOf(INT32_MAX, 2, 0, hard));
  std::mt19937 random(11);
  for (int i = 0; i < 20000; ++i) {
    float values[20];
    for (float& value : values) {
      do {
        const uint32_t bits = static_cast<uint32_t>(random());
        std::memcpy(&value, &bits, sizeof value);
      } while (std::isnan(value));
    }
    table.records.push_back(RecordOf(static_cast<int32_t>(random() % 1024),
                                     static_cast<uint8_t>(random() % 256),
                                     static_cast<uint8_t>(random() % 2), values));
  }
  table.count = static_cast<int32_t>(table.records.size());
  TempDir dir;
  const std::string path = dir.File("nyc.map");
  WriteQuadList(path, table);
  QuadTable back;
  NoProgress progress;
  ReadQuadList(path, back, progress);
  ASSERT_EQ(back.count, table.count);
  for (int32_t i = 0; i < table.count; ++i) {
    ASSERT_EQ(std::memcmp(&back.records[static_cast<size_t>(i)],
                          &table.records[static_cast<size_t>(i)], sizeof(QuadRecord)),
              0)
        << "record " << i;
  }
  EXPECT_EQ(ReadFile(path).substr(0, 8), "3 0\r\nCW\r");
}

TEST(QuadListWriter, RefusesWhatNoQuadListFileHolds) {
  TempDir dir;
  float values[20] = {};
  QuadTable table;
  table.records.push_back(RecordOf(1, 0, 0, values));
  table.count = 1;
  try {
    WriteQuadList(dir.File("city.map"), table);
    FAIL() << "no error";
  } catch (const SceneError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Cannot write record 1 to " + dir.File("city.map") +
                  ": only files named nyc.map, sanb.map or miami.map hold texture slots");
  }
  values[7] = std::numeric_limits<float>::quiet_NaN();
  table.records[0] = RecordOf(0, 0, 0, values);
  EXPECT_THROW(WriteQuadList(dir.File("nyc.map"), table), SceneError);
  EXPECT_FALSE(IsRegularFile(dir.File("nyc.map")));  // nothing half-written is left
}

}  // namespace
