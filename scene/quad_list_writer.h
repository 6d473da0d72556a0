// Writes quad-list files that read back to exactly the records written: CR LF line ends, each
// float as the shortest text the reader turns back into the same float32, z negated back to
// the file's sign, and the texture number that the file's name reads (slot + its offset).
#pragma once

#include <memory>
#include <string>

#include "scene/file_access.h"
#include "scene/scene_types.h"

class QuadListWriter {
 public:
  // Starts the file at `path` (written through OutputFile: nothing appears there until
  // Commit). A name that reads no texture numbers can hold only records of slot 0.
  explicit QuadListWriter(const std::string& path);
  // Writes into `file` (one of an OutputFileSet's), which its owner commits.
  QuadListWriter(const std::string& path, OutputFile& file);

  // Appends one record. Raises SceneError for what no quad-list file can hold: a NaN
  // coordinate (no text reads as one), or a slot other than 0 in a file whose name reads no
  // texture numbers.
  void Write(const QuadRecord& record);
  void Commit() { file_.Commit(); }

 private:
  std::unique_ptr<OutputFile> ownFile_;
  OutputFile& file_;
  std::string path_;
  bool readsTextureNumbers_ = false;
  int32_t textureOffset_ = 0;
  int64_t written_ = 0;
  std::string line_;
};

// Records 0 to count - 1 of `table` as a quad-list file at `path`.
void WriteQuadList(const std::string& path, const QuadTable& table);
