// The quad-list reader's entry: which names read texture numbers, and whether the file is
// read on several threads or record by record (the same results either way).
#include "scene/quad_list.h"

#include <iterator>

#include "scene/file_access.h"
#include "scene/parallel_reader.h"
#include "scene/record_reader.h"

namespace {

// Texture numbers in these files are shifted onto the numbering of the texture folder.
struct TextureShift {
  const char* fileName;
  int32_t offset;
};
constexpr TextureShift kTextureShifts[] = {{"nyc.map", 3}, {"sanb.map", 2}, {"miami.map", 3}};

}  // namespace

std::string LowerFileName(const std::string& path) {
  std::string name = FileNameOf(path);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return name;
}

std::string TextureNumberFileNames() {
  constexpr size_t kShifts = std::size(kTextureShifts);
  std::string names;
  for (size_t i = 0; i < kShifts; ++i) {
    if (i > 0) names += i + 1 < kShifts ? ", " : " or ";
    names += kTextureShifts[i].fileName;
  }
  return names;
}

namespace quadListNames {
std::string readAs;  // --as: the name whose rule every file's texture numbers follow
}  // namespace quadListNames

bool TextureNumberOffset(const std::string& path, int32_t& offset) {
  return NamedTextureNumberOffset(quadListNames::readAs.empty() ? path : quadListNames::readAs,
                                  offset);
}

bool ReadTextureNumbersAs(const std::string& name) {
  int32_t offset = 0;
  if (name.find('/') != std::string::npos || !NamedTextureNumberOffset(name, offset)) return false;
  quadListNames::readAs = name;
  return true;
}

bool NamedTextureNumberOffset(const std::string& path, int32_t& offset) {
  const std::string fileName = LowerFileName(path);
  for (const TextureShift& shift : kTextureShifts) {
    if (fileName == shift.fileName) {
      offset = shift.offset;
      return true;
    }
  }
  return false;
}

void ReadQuadList(const std::string& path, QuadTable& table, QuadListProgress& progress,
                  const int32_t* textureNumberOffset, int threads) {
  table.count = 0;
  table.records.clear();
  TextureNumbering numbering;
  if (textureNumberOffset != nullptr) numbering.shift = *textureNumberOffset;
  numbering.read = textureNumberOffset != nullptr || TextureNumberOffset(path, numbering.shift);
  if (ReadInParallel(path, numbering, threads, table, progress)) return;
  ReadRecordRun(path, RecordRun{}, numbering, table, progress);
}
