// Reading quadview's own exports back exactly, in the contained model reader: the records from
// the bytes a glTF carries in its quadview data, or from an OBJ's faces (floats read with
// correct rounding) and its quadview comments; the images of the set from the PNGs they name,
// each read header first, decoded, handed on and released before the next. Every file, the
// export itself included, comes from the reader's file access, under the rule every model
// reads by. Nothing is read whole that need not be: a .glb or .bin is read view by view, a
// JSON export's records are dropped as they are taken, a binary one's are the table's bytes.
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "interchange/stages.h"
#include "scene/file_access.h"
#include "scene/line_reader.h"
#include "scene/scene_error.h"
#include "scene/texture_limits.h"

namespace {

using nlohmann::json;

[[noreturn]] void Malformed(const std::string& path, const std::string& what) {
  throw SceneError("Cannot read quadview export " + path + ": " + what, path);
}

// The library's text without its "[json.exception.type_error.302] " tag.
std::string LibraryText(const json::exception& error) {
  const std::string what = error.what();
  const size_t tag = what.find("] ");
  return tag == std::string::npos ? what : what.substr(tag + 2);
}

// "%41%42" -> "AB" for the relative URIs the exporter writes.
std::string DecodeUri(const std::string& path, const std::string& uri) {
  std::string text;
  for (size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] != '%') {
      text += uri[i];
      continue;
    }
    const int high = i + 2 < uri.size() ? HexDigit(uri[i + 1]) : -1;
    const int low = high >= 0 ? HexDigit(uri[i + 2]) : -1;
    if (low < 0) Malformed(path, "a URI has a bad %-escape: " + QuoteContent(uri));
    text += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return text;
}

// The export itself, from `files`.
std::unique_ptr<InputFile> OpenExport(const std::string& path, ModelFileAccess& files) {
  std::string refusal;
  const int fd = files.Open(path, refusal);
  if (fd < 0) throw CannotOpenFile(path);
  return std::make_unique<InputFile>(fd, path);
}

// A file the export refers to (its .bin, an image), named from beside it unless its name is
// absolute; nullptr with `refusal` set when `files` refuses it. A failure names the export as
// well, since that is the file the user gave.
std::unique_ptr<InputFile> OpenReferencedFile(const std::string& path, ModelFileAccess& files,
                                              const std::string& file, std::string& refusal,
                                              int line = 0) {
  const std::string named = !file.empty() && file[0] == '/' ? file : FolderOf(path) + file;
  const int fd = files.Open(named, refusal);
  if (fd < 0 && !refusal.empty()) return nullptr;
  try {
    if (fd < 0) throw CannotOpenFile(named);
    return std::make_unique<InputFile>(fd, named);
  } catch (const SceneError& error) {
    throw SceneError(error.what(), path, line, error.reason());
  }
}

// The images of the set as they are read: each one's size from its header first, so that
// none is decoded that would pass the texture budget (the viewer would draw its slot
// untextured: so it is written), then decoded, handed on and released.
class OwnImages {
 public:
  OwnImages(const std::string& path, ImportedScene& scene, ImageSink& images)
      : path_(path), scene_(scene), images_(images), budgetBytes_(TextureBudgetBytes()) {}

  int64_t Count() const { return scene_.images; }

  void AddUntextured() {
    images_.AddImage(0, 0, nullptr);
    ++scene_.images;
  }

  // The image in a file the export names; one that `files` refuses draws untextured.
  void AddFile(ModelFileAccess& files, const std::string& file, int line = 0) {
    std::string refusal;
    const std::unique_ptr<InputFile> image = OpenReferencedFile(path_, files, file, refusal, line);
    if (image == nullptr) {
      scene_.warnings.push_back("image " + std::to_string(scene_.images) + ": " + refusal +
                                "; its slot draws untextured");
      AddUntextured();
      return;
    }
    ImageBytes bytes;
    bytes.file = image.get();
    bytes.size = static_cast<uint64_t>(image->Size());
    Add(bytes);
  }

  void Add(const ImageBytes& bytes) {
    int width = 0, height = 0;
    std::string why;
    if (!ReadImageSize(bytes, width, height, why))
      Malformed(path_, "image " + std::to_string(scene_.images) + " does not decode: " + why);
    const uint64_t size = uint64_t(width) * uint64_t(height) * 4;
    if (size > budgetBytes_ - usedBytes_) {
      scene_.warnings.push_back(
          "image " + std::to_string(scene_.images) + " (" + std::to_string(width) + " x " +
          std::to_string(height) + ") passes the texture budget of " +
          std::to_string(budgetBytes_ >> 20) + " MiB: its slot draws untextured");
      AddUntextured();
      return;
    }
    DecodedImage image;
    if (!DecodeImage(bytes, image, why))
      Malformed(path_, "image " + std::to_string(scene_.images) + " does not decode: " + why);
    usedBytes_ += size;
    images_.AddImage(image.width, image.height, image.rgba.get());
    ++scene_.images;
  }

 private:
  const std::string& path_;
  ImportedScene& scene_;
  ImageSink& images_;
  uint64_t budgetBytes_;
  uint64_t usedBytes_ = 0;
};

// --- glTF ---------------------------------------------------------------------------------

// A range of bytes of a file.
struct FileRange {
  InputFile* file = nullptr;
  uint64_t offset = 0;
  uint64_t size = 0;
};

struct GltfFile {
  json doc;
  std::unique_ptr<InputFile> glb;  // the .glb itself, whose BIN chunk is buffer 0
  std::unique_ptr<InputFile> bin;  // a .gltf's buffer file
  FileRange buffer;                // buffer 0
};

uint32_t Little32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}

// The JSON of a .glb or .gltf, and where a .glb's BIN chunk lies; false when it is no glTF
// 2.0 file this reader can take (Assimp then reads it, or says why not).
bool LoadGltf(const std::string& path, ModelFileAccess& files, GltfFile& gltf) {
  std::unique_ptr<InputFile> file = OpenExport(path, files);
  uint8_t header[12];
  const uint64_t size = static_cast<uint64_t>(file->Size());
  if (file->ReadAt(0, header, sizeof header) == sizeof header && Little32(header) == kGlbMagic) {
    if (Little32(header + 4) != kGlbVersion) return false;
    uint64_t at = sizeof header;
    while (at + 8 <= size) {
      uint8_t chunk[8];
      if (file->ReadAt(at, chunk, sizeof chunk) != sizeof chunk) return false;
      const uint32_t length = Little32(chunk);
      const uint32_t type = Little32(chunk + 4);
      if (length > size - at - 8) return false;
      if (type == kChunkJson) {
        std::string text(length, '\0');
        if (file->ReadAt(at + 8, text.data(), length) != length) return false;
        gltf.doc = json::parse(text, nullptr, false);
      } else if (type == kChunkBin) {
        gltf.buffer = FileRange{file.get(), at + 8, length};
      }
      at += 8 + uint64_t{length};
    }
    gltf.glb = std::move(file);
    return gltf.doc.is_object();
  }
  std::vector<uint8_t> text(static_cast<size_t>(size));
  text.resize(file->ReadAt(0, text.data(), text.size()));
  gltf.doc = json::parse(text.begin(), text.end(), nullptr, false);
  return gltf.doc.is_object();
}

// A count, an index, an offset or a length of the quadview data: a whole number, never
// negative, that a size_t holds (1.5, -1 or 1e30 are none).
size_t WholeNumber(const std::string& path, const json& value) {
  if (!value.is_number_unsigned()) Malformed(path, "a count or index is not a whole number");
  return value.get<size_t>();
}

// The bytes of buffer view `index`, checked against the buffer.
FileRange ViewRange(const std::string& path, const GltfFile& gltf, size_t index) {
  const json& view = gltf.doc.at("bufferViews").at(index);
  const auto offsetField = view.find("byteOffset");
  const size_t offset = offsetField == view.end() ? 0 : WholeNumber(path, *offsetField);
  const size_t length = WholeNumber(path, view.at("byteLength"));
  const auto bufferField = view.find("buffer");
  if (WholeNumber(path, bufferField == view.end() ? json(0) : *bufferField) != 0 ||
      offset > gltf.buffer.size || length > gltf.buffer.size - offset) {
    Malformed(path, "a buffer view lies outside the buffer");
  }
  return FileRange{gltf.buffer.file, gltf.buffer.offset + offset, length};
}

ImageBytes BytesOf(const FileRange& range) {
  ImageBytes bytes;
  bytes.file = range.file;
  bytes.offset = range.offset;
  bytes.size = range.size;
  return bytes;
}

bool ReadOwnGltf(const std::string& path, ModelFileAccess& files, ImportedScene& scene,
                 ImageSink& images) {
  GltfFile gltf;
  if (!LoadGltf(path, files, gltf)) return false;
  // Looked up in place, never copied: a hostile file may nest values deeply, and copying
  // one recurses once per level.
  const auto extras = gltf.doc.find("extras");
  if (extras == gltf.doc.end() || !extras->is_object() || !extras->contains(kGltfExtrasKey)) {
    return false;
  }
  try {
    const auto buffers = gltf.doc.find("buffers");
    if (gltf.glb == nullptr && buffers != gltf.doc.end() && buffers->is_array() &&
        !buffers->empty() && (*buffers)[0].contains("uri")) {
      std::string refusal;
      gltf.bin = OpenReferencedFile(
          path, files, DecodeUri(path, (*buffers)[0]["uri"].get<std::string>()), refusal);
      if (gltf.bin == nullptr) Malformed(path, "its buffer " + refusal);
      gltf.buffer = FileRange{gltf.bin.get(), 0, static_cast<uint64_t>(gltf.bin->Size())};
    }
    const json& quadview = extras->at(kGltfExtrasKey);
    const json& version = quadview.at("version");
    const json& recordCount = quadview.at("recordCount");
    if (!version.is_number_integer() || version.get<int64_t>() != kInterchangeVersion) {
      Malformed(path, "made by another version of quadscene");
    }
    const size_t count = WholeNumber(path, recordCount);
    FileRange records;
    if (count > 0) records = ViewRange(path, gltf, WholeNumber(path, quadview.at("records")));
    if (count > static_cast<size_t>(INT32_MAX) || records.size % kRecordBytes != 0 ||
        records.size / kRecordBytes != count) {
      Malformed(path, "its records do not add up");
    }
    // The view holds the records' bytes as the table stores them.
    scene.records.records.resize(count);
    if (count > 0 && records.file->ReadAt(records.offset, scene.records.records.data(),
                                          records.size) != records.size) {
      Malformed(path, "its records do not add up");
    }
    scene.records.count = static_cast<int32_t>(count);
    OwnImages set(path, scene, images);
    for (const json& entry : quadview.at("images")) {
      if (WholeNumber(path, entry.at("slot")) != static_cast<size_t>(set.Count())) {
        Malformed(path, "its images are not in slot order");
      }
      const auto untextured = entry.find("untextured");
      if (untextured != entry.end() && untextured->is_boolean() && untextured->get<bool>()) {
        set.AddUntextured();
        continue;
      }
      const json& image = gltf.doc.at("images").at(WholeNumber(path, entry.at("image")));
      if (image.contains("bufferView")) {
        set.Add(BytesOf(ViewRange(path, gltf, WholeNumber(path, image["bufferView"]))));
      } else {
        set.AddFile(files, DecodeUri(path, image.at("uri").get<std::string>()));
      }
    }
  } catch (const json::exception& error) {
    Malformed(path, "its quadview data does not read: " + LibraryText(error));
  }
  scene.quads = scene.records.count;
  return true;
}

// --- OBJ ----------------------------------------------------------------------------------

// The space-separated words of a line, into `words` (reused from line to line).
void SplitWords(std::string_view line, std::vector<std::string_view>& words) {
  words.clear();
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    const size_t begin = at;
    while (at < line.size() && line[at] != ' ' && line[at] != '\t') ++at;
    if (at > begin) words.push_back(line.substr(begin, at - begin));
  }
}

bool ParseFloat(std::string_view text, float& value) {
  const char* end = text.data() + text.size();
  const std::from_chars_result result = std::from_chars(text.data(), end, value);
  return result.ec == std::errc() && result.ptr == end;
}

// The 1-based index before the first '/' of a face corner "7/7".
bool ParseCorner(std::string_view text, size_t& index) {
  const std::string_view number = text.substr(0, text.find('/'));
  const char* end = number.data() + number.size();
  const std::from_chars_result result = std::from_chars(number.data(), end, index);
  return result.ec == std::errc() && result.ptr == end && index > 0;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool ReadOwnObj(const std::string& path, ModelFileAccess& files, ImportedScene& scene,
                ImageSink& images) {
  std::string refusal;
  const int fd = files.Open(path, refusal);
  if (fd < 0) throw CannotOpenFile(path);
  LineReader reader(fd, path);
  bool complete = true;
  const std::string_view first = reader.NextLine(complete);
  if (!StartsWith(first, std::string(kObjMarker) + " ")) return false;
  if (first.substr(std::strlen(kObjMarker) + 1) != std::to_string(kInterchangeVersion)) {
    Malformed(path, "made by another version of quadscene");
  }
  std::vector<float> positions, texcoords;
  auto& records = scene.records.records;
  OwnImages set(path, scene, images);
  int32_t slot = 0;
  uint8_t blend = 0;
  uint8_t ccw = 0;
  int lineNumber = 1;
  std::vector<std::string_view> words;
  const std::string endPrefix = std::string(kObjEnd) + " ";
  bool ended = false;  // the end line, with the record count, was read
  auto fail = [&](const std::string& what) {
    Malformed(path, "line " + std::to_string(lineNumber) + ": " + what);
  };
  while (!reader.AtEnd()) {
    const std::string_view line = reader.NextLine(complete);
    ++lineNumber;
    if (!complete) fail("a line longer than quadview writes");
    SplitWords(line, words);
    if (words.empty()) continue;
    if (ended) fail("something follows the end line");
    if (StartsWith(line, endPrefix)) {
      size_t count = 0;
      const std::string_view text = line.substr(endPrefix.size());
      const std::from_chars_result result =
          std::from_chars(text.data(), text.data() + text.size(), count);
      if (result.ec != std::errc() || result.ptr != text.data() + text.size() ||
          count != records.size()) {
        Malformed(path, "its records do not add up");
      }
      ended = true;
      continue;
    }
    if (words[0] == "v" || words[0] == "vt") {
      const bool position = words[0] == "v";
      if (words.size() != (position ? 4u : 3u)) fail("a vertex does not read");
      for (size_t k = 1; k < words.size(); ++k) {
        float value = 0;
        if (!ParseFloat(words[k], value)) fail("a number does not read");
        (position ? positions : texcoords).push_back(value);
      }
    } else if (words[0] == "usemtl") {
      if (words.size() != 2 || !ParseMaterialName(std::string(words[1]), slot, blend)) {
        fail("a material is not quadview's");
      }
    } else if (words[0] == "f") {
      if (words.size() != 5) fail("a face does not have four corners");
      QuadRecord record{};
      record.textureIndex = slot;
      record.blend = blend;
      record.counterClockwise = ccw;
      for (int k = 0; k < 4; ++k) {
        size_t index = 0;
        if (!ParseCorner(words[static_cast<size_t>(k) + 1], index) ||
            index * 3 > positions.size() || index * 2 > texcoords.size()) {
          fail("a face corner does not read");
        }
        const float* p = &positions[(index - 1) * 3];
        const float* t = &texcoords[(index - 1) * 2];
        record.corners[k] = QuadCorner{t[0], t[1], p[0], p[1], -p[2]};
      }
      records.push_back(record);
    } else if (StartsWith(line, kObjWinding)) {
      ccw =
          line.substr(std::strlen(kObjWinding)) == std::string(" ") + kCounterClockwiseWord ? 1 : 0;
    } else if (StartsWith(line, kObjRecord)) {
      std::istringstream fields{std::string(line.substr(std::strlen(kObjRecord)))};
      long long recordSlot = 0;
      unsigned recordBlend = 0, recordCcw = 0;
      if (!(fields >> recordSlot >> recordBlend >> recordCcw) || recordSlot < INT32_MIN ||
          recordSlot > INT32_MAX || recordBlend > UINT8_MAX || recordCcw > UINT8_MAX) {
        fail("a record does not read");
      }
      QuadRecord record{};
      record.textureIndex = static_cast<int32_t>(recordSlot);
      record.blend = static_cast<uint8_t>(recordBlend);
      record.counterClockwise = static_cast<uint8_t>(recordCcw);
      float values[20];
      for (float& value : values) {
        std::string hex;
        if (!(fields >> hex) || !FloatFromBitsHex(hex, value)) fail("a record does not read");
      }
      std::memcpy(record.corners, values, sizeof values);
      records.push_back(record);
    } else if (StartsWith(line, kObjImage)) {
      if (words.size() < 5) fail("an image line does not read");
      size_t imageSlot = 0;
      const std::from_chars_result result =
          std::from_chars(words[3].data(), words[3].data() + words[3].size(), imageSlot);
      if (result.ec != std::errc() || result.ptr != words[3].data() + words[3].size() ||
          imageSlot != static_cast<size_t>(set.Count())) {
        fail("the images are not in slot order");
      }
      // The file name is the rest of the line, spaces and all.
      const std::string file(line.substr(static_cast<size_t>(words[4].data() - line.data())));
      if (file == "-") {
        set.AddUntextured();
      } else {
        set.AddFile(files, file, lineNumber);
      }
    }
  }
  // A file cut short (or ended early by a Ctrl+Z) lacks the end line.
  if (!ended) Malformed(path, "it ends before its last record");
  scene.records.count = static_cast<int32_t>(records.size());
  scene.quads = scene.records.count;
  return true;
}

// --- JSON ---------------------------------------------------------------------------------

// The values of a JSON record: slot, blend, winding, then x, y, z, u, v of each corner.
constexpr size_t kJsonRecordValues = 3 + 4 * 5;

// A record's float: a number (the double a float was written as, rounded to the float), or
// the string of the bits of one that is not finite.
// "record N" of the record at `index`: messages count records from 1, as people do.
std::string RecordWord(int64_t index) {
  return "record " + std::to_string(index + 1);
}

float JsonFloat(const std::string& path, int64_t index, const json& value) {
  float result = 0;
  if (value.is_number()) {
    const double number = value.get<double>();
    result = static_cast<float>(number);
    if (std::isfinite(number) && !std::isfinite(result)) {
      Malformed(path, RecordWord(index) + ": " + value.dump() + " is beyond a float's range");
    }
  } else if (!value.is_string() || !FloatFromBitsHex(value.get<std::string>(), result)) {
    // Named by its kind, never written out: an array may nest deeper than a recursion goes.
    Malformed(path, RecordWord(index) + ": " +
                        (value.is_string() ? QuoteContent(value.get<std::string>())
                                           : std::string("a value of type ") + value.type_name()) +
                        " is not a number");
  }
  return result;
}

QuadRecord JsonRecord(const std::string& path, int64_t index, const json& values) {
  const auto field = [&](size_t at, int64_t low, int64_t high, const char* what) {
    const json& value = values[at];
    if (!value.is_number_integer() ||
        (value.is_number_unsigned() && value.get<uint64_t>() > INT64_MAX) ||
        value.get<int64_t>() < low || value.get<int64_t>() > high) {
      Malformed(path, RecordWord(index) + ": its " + what + " is not a whole " + "number from " +
                          std::to_string(low) + " to " + std::to_string(high));
    }
    return value.get<int64_t>();
  };
  if (!values.is_array() || values.size() != kJsonRecordValues) {
    Malformed(path, RecordWord(index) + " is not an array of " + std::to_string(kJsonRecordValues) +
                        " values");
  }
  QuadRecord record{};
  record.textureIndex = static_cast<int32_t>(field(0, INT32_MIN, INT32_MAX, "slot"));
  record.blend = static_cast<uint8_t>(field(1, 0, UINT8_MAX, "blend"));
  record.counterClockwise = static_cast<uint8_t>(field(2, 0, 1, "winding"));
  size_t at = 3;
  for (QuadCorner& corner : record.corners) {
    float xyzuv[5];
    for (float& value : xyzuv) value = JsonFloat(path, index, values[at++]);
    // The table holds the file's z negated. Whole corners are stored: the packed record's
    // fields are not aligned for a float's address.
    corner = QuadCorner{xyzuv[3], xyzuv[4], xyzuv[0], xyzuv[1], -xyzuv[2]};
  }
  return record;
}

// The head of the JSON and binary forms: an object with a "quadview" object of this version;
// `notAnObject` says so when it is no object at all.
void CheckHead(const std::string& path, const json& head, const char* notAnObject) {
  if (!head.is_object()) Malformed(path, notAnObject);
  const auto quadview = head.find("quadview");
  if (quadview == head.end() || !quadview->is_object()) {
    Malformed(path, "it has no \"quadview\" object");
  }
  const json& version = quadview->at("version");
  if (!version.is_number_integer() || version.get<int64_t>() != kInterchangeVersion) {
    Malformed(path, "made by another version of quadscene");
  }
}

// The images of the JSON and binary forms: one per slot, the file name of its PNG beside the
// export (escaped where it is not UTF-8), or null where the slot draws untextured.
void ReadImageList(const std::string& path, ModelFileAccess& files, const json& imageList,
                   ImportedScene& scene, ImageSink& images) {
  if (!imageList.is_array()) Malformed(path, "its images are not an array");
  if (imageList.size() > static_cast<size_t>(kTextureSlots)) {
    Malformed(path, "it names " + std::to_string(imageList.size()) +
                        " images; a texture folder holds at most " + std::to_string(kTextureSlots));
  }
  OwnImages set(path, scene, images);
  for (const json& entry : imageList) {
    if (entry.is_null()) {
      set.AddUntextured();
    } else if (const std::string* name = entry.get_ptr<const std::string*>();
               name != nullptr && !name->empty() && name->find('\0') == std::string::npos) {
      set.AddFile(files, UnescapedName(*name));
    } else {
      Malformed(path, "image " + std::to_string(set.Count()) + " is not a file name or null");
    }
  }
}

// The JSON form (WriteJson, and what the Blender add-on writes): a .json file is always read
// as one. The records are taken as the parser meets them and their arrays dropped, so that
// the document held is the small rest of the file.
bool ReadOwnJson(const std::string& path, ModelFileAccess& files, ImportedScene& scene,
                 ImageSink& images) {
  std::unique_ptr<InputFile> file = OpenExport(path, files);
  std::vector<uint8_t> text(static_cast<size_t>(file->Size()));
  text.resize(file->ReadAt(0, text.data(), text.size()));
  auto& records = scene.records.records;
  std::string member;  // the member of the outermost object being parsed
  const json::parser_callback_t takeRecords = [&](int depth, json::parse_event_t event,
                                                  json& parsed) {
    if (depth == 1 && event == json::parse_event_t::key) member = parsed.get<std::string>();
    if (depth != 2 || member != "records") return true;
    if (event == json::parse_event_t::object_start || event == json::parse_event_t::value) {
      Malformed(path, RecordWord(static_cast<int64_t>(records.size())) + " is not an array of " +
                          std::to_string(kJsonRecordValues) + " values");
    }
    if (event != json::parse_event_t::array_end) return true;
    if (records.size() >= static_cast<size_t>(INT32_MAX)) {
      Malformed(path, "it holds more records than a table can");
    }
    records.push_back(JsonRecord(path, static_cast<int64_t>(records.size()), parsed));
    return false;
  };
  try {
    const json doc = json::parse(text.begin(), text.end(), takeRecords);
    std::vector<uint8_t>().swap(text);
    CheckHead(path, doc, "it is not a JSON object");
    if (!doc.at("records").is_array()) Malformed(path, "its records are not an array");
    scene.records.count = static_cast<int32_t>(records.size());
    ReadImageList(path, files, doc.at("images"), scene, images);
  } catch (const json::exception& error) {
    Malformed(path, "its JSON does not read: " + LibraryText(error));
  }
  scene.quads = scene.records.count;
  return true;
}

// --- Binary -------------------------------------------------------------------------------

uint64_t Little64(const uint8_t* bytes) {
  return uint64_t{Little32(bytes)} | uint64_t{Little32(bytes + 4)} << 32;
}

// The head of the binary form: the JSON form's object without its records. A head nests
// no deeper than this (the outermost value at depth 0: nine levels); a hostile one is
// refused before the library recurses through it.
constexpr int kBinaryHeadDepth = 8;

// The binary form (WriteBinary, and what the Blender add-on writes): a .qvb file is always read
// as one. Its records are the table's own bytes, read in one piece once the header's count and
// the file's size agree.
bool ReadOwnBinary(const std::string& path, ModelFileAccess& files, ImportedScene& scene,
                   ImageSink& images) {
  std::unique_ptr<InputFile> file = OpenExport(path, files);
  const uint64_t size = static_cast<uint64_t>(file->Size());
  uint8_t header[kBinaryHeaderBytes];
  if (size < sizeof header || file->ReadAt(0, header, sizeof header) != sizeof header ||
      std::memcmp(header, kBinaryMagic, sizeof kBinaryMagic) != 0) {
    Malformed(path, "it does not start as the binary form does");
  }
  if (Little32(header + 8) != kInterchangeVersion) {
    Malformed(path, "made by another version of quadscene");
  }
  const uint32_t headBytes = Little32(header + 12);
  const uint64_t count = Little64(header + 16);
  if (headBytes > kBinaryHeadLimitBytes) {
    Malformed(path,
              "its head is larger than " + std::to_string(kBinaryHeadLimitBytes >> 10) + " KiB");
  }
  if (count > static_cast<uint64_t>(INT32_MAX) ||
      size != sizeof header + count * kRecordBytes + headBytes) {
    Malformed(path, "its records do not add up");
  }
  std::string text(headBytes, '\0');
  if (file->ReadAt(sizeof header + count * kRecordBytes, text.data(), headBytes) != headBytes) {
    Malformed(path, "its records do not add up");
  }
  try {
    const json::parser_callback_t shallow = [&](int depth, json::parse_event_t, json&) {
      if (depth > kBinaryHeadDepth) Malformed(path, "its head nests too deeply");
      return true;
    };
    const json head = json::parse(text, shallow);
    CheckHead(path, head, "its head is not a JSON object");
    const json& imageList = head.at("images");
    auto& records = scene.records.records;
    records.resize(static_cast<size_t>(count));
    if (file->ReadAt(sizeof header, records.data(), count * kRecordBytes) != count * kRecordBytes) {
      Malformed(path, "its records do not add up");
    }
    for (size_t i = 0; i < records.size(); ++i) {
      if (records[i].counterClockwise > 1) {
        Malformed(path, RecordWord(static_cast<int64_t>(i)) + ": its winding is not 0 or 1");
      }
    }
    scene.records.count = static_cast<int32_t>(count);
    ReadImageList(path, files, imageList, scene, images);
  } catch (const json::exception& error) {
    Malformed(path, "its head does not read: " + LibraryText(error));
  }
  scene.quads = scene.records.count;
  return true;
}

}  // namespace

bool ReadOwnExport(const std::string& path, ModelFileAccess& files, ImportedScene& scene,
                   ImageSink& images) {
  const std::string extension = LowerExtension(path);
  if (extension == ".glb" || extension == ".gltf") return ReadOwnGltf(path, files, scene, images);
  if (extension == ".obj") return ReadOwnObj(path, files, scene, images);
  if (extension == ".json") return ReadOwnJson(path, files, scene, images);
  if (extension == ".qvb") return ReadOwnBinary(path, files, scene, images);
  return false;
}
