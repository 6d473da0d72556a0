// Reading quadview's own exports back exactly: the records from the bytes a glTF carries in
// its quadview data, or from an OBJ's faces (floats read with correct rounding) and its
// quadview comments; the images of the set from the PNGs they name.
#include <charconv>
#include <climits>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "interchange/interchange.h"
#include "scene/file_access.h"
#include "scene/line_reader.h"
#include "scene/scene_error.h"

namespace {

using nlohmann::json;

[[noreturn]] void Malformed(const std::string& path, const std::string& what) {
  throw SceneError("Cannot read quadview export " + path + ": " + what, path);
}

uint32_t Little32(const std::vector<uint8_t>& bytes, size_t at) {
  return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
         uint32_t{bytes[at + 3]} << 24;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
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

// A file the export refers to (its .bin, an image), read from beside it. A failure names the
// export as well, since that is the file the user gave.
std::vector<uint8_t> ReadReferencedFile(const std::string& path, const std::string& file,
                                        int line = 0) {
  try {
    return ReadWholeFile(FolderOf(path) + file);
  } catch (const SceneError& error) {
    throw SceneError(error.what(), path, line, error.reason());
  }
}

ImportedImage ImageFromPng(const std::string& path, const uint8_t* png, size_t size) {
  ImportedImage image;
  DecodedImage decoded;
  std::string why;
  if (!DecodeImage(png, size, decoded, why)) Malformed(path, "an image does not decode: " + why);
  image.textured = true;
  image.width = decoded.width;
  image.height = decoded.height;
  image.rgba = std::move(decoded.rgba);
  return image;
}

ImportedImage ImageFromPng(const std::string& path, const std::vector<uint8_t>& png) {
  return ImageFromPng(path, png.data(), png.size());
}

// --- glTF ---------------------------------------------------------------------------------

// Bytes inside GltfFile::bytes.
struct ByteRange {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

struct GltfFile {
  json doc;
  // The .glb, whose BIN chunk is buffer 0, or once its buffer is read, the .gltf's .bin.
  std::vector<uint8_t> bytes;
  ByteRange bin;
};

// The JSON of a .glb or .gltf, and the BIN chunk of a .glb; false when it is no glTF 2.0 file
// this reader can take (Assimp then reads it, or says why not).
bool LoadGltf(const std::string& path, GltfFile& gltf) {
  std::vector<uint8_t>& bytes = gltf.bytes;
  bytes = ReadWholeFile(path);
  if (bytes.size() >= 12 && Little32(bytes, 0) == kGlbMagic) {
    if (Little32(bytes, 4) != kGlbVersion) return false;
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
      const uint32_t length = Little32(bytes, at);
      const uint32_t type = Little32(bytes, at + 4);
      if (length > bytes.size() - at - 8) return false;
      if (type == kChunkJson) {
        gltf.doc = json::parse(bytes.begin() + static_cast<long>(at + 8),
                               bytes.begin() + static_cast<long>(at + 8 + length), nullptr, false);
      } else if (type == kChunkBin) {
        gltf.bin = ByteRange{bytes.data() + at + 8, length};
      }
      at += 8 + length;
    }
    return gltf.doc.is_object();
  }
  gltf.doc = json::parse(bytes.begin(), bytes.end(), nullptr, false);
  bytes = std::vector<uint8_t>();  // the text is parsed
  return gltf.doc.is_object();
}

// A count or an index of the quadview data: a whole number, never negative.
size_t WholeNumber(const std::string& path, const json& value) {
  if (!value.is_number_unsigned()) Malformed(path, "a count or index is not a whole number");
  return value.get<size_t>();
}

// The bytes of buffer view `index`, checked against the buffer.
ByteRange ViewBytes(const std::string& path, const GltfFile& gltf, size_t index) {
  const json& views = gltf.doc.at("bufferViews");
  const json& view = views.at(index);
  const size_t offset = view.value("byteOffset", size_t{0});
  const size_t length = WholeNumber(path, view.at("byteLength"));
  if (view.value("buffer", 0) != 0 || offset > gltf.bin.size || length > gltf.bin.size - offset) {
    Malformed(path, "a buffer view lies outside the buffer");
  }
  return ByteRange{gltf.bin.data + offset, length};
}

bool ReadOwnGltf(const std::string& path, ImportedScene& scene) {
  GltfFile gltf;
  if (!LoadGltf(path, gltf)) return false;
  // Looked up in place, never copied: a hostile file may nest values deeply, and copying
  // one recurses once per level.
  const auto extras = gltf.doc.find("extras");
  if (extras == gltf.doc.end() || !extras->is_object() || !extras->contains(kGltfExtrasKey)) {
    return false;
  }
  try {
    const auto buffers = gltf.doc.find("buffers");
    if (gltf.bin.size == 0 && buffers != gltf.doc.end() && buffers->is_array() &&
        !buffers->empty() && (*buffers)[0].contains("uri")) {
      gltf.bytes =
          ReadReferencedFile(path, DecodeUri(path, (*buffers)[0]["uri"].get<std::string>()));
      gltf.bin = ByteRange{gltf.bytes.data(), gltf.bytes.size()};
    }
    const json& quadview = extras->at(kGltfExtrasKey);
    const json& version = quadview.at("version");
    const json& recordCount = quadview.at("recordCount");
    if (!version.is_number_integer() || version.get<int64_t>() != kInterchangeVersion) {
      Malformed(path, "made by another version of quadscene");
    }
    const size_t count = WholeNumber(path, recordCount);
    ByteRange records;
    if (count > 0) records = ViewBytes(path, gltf, WholeNumber(path, quadview.at("records")));
    if (count > static_cast<size_t>(INT32_MAX) || records.size % kRecordBytes != 0 ||
        records.size / kRecordBytes != count) {
      Malformed(path, "its records do not add up");
    }
    // The view holds the records' bytes as the table stores them.
    scene.records.records.resize(count);
    if (count > 0) std::memcpy(scene.records.records.data(), records.data, records.size);
    scene.records.count = static_cast<int32_t>(count);
    for (const json& entry : quadview.at("images")) {
      const size_t slot = WholeNumber(path, entry.at("slot"));
      if (slot != scene.images.size()) Malformed(path, "its images are not in slot order");
      if (entry.value("untextured", false)) {
        scene.images.emplace_back();
        continue;
      }
      const json& image = gltf.doc.at("images").at(WholeNumber(path, entry.at("image")));
      if (image.contains("bufferView")) {
        const ByteRange png = ViewBytes(path, gltf, WholeNumber(path, image["bufferView"]));
        scene.images.push_back(ImageFromPng(path, png.data, png.size));
      } else {
        scene.images.push_back(ImageFromPng(
            path, ReadReferencedFile(path, DecodeUri(path, image.at("uri").get<std::string>()))));
      }
    }
  } catch (const json::exception& error) {
    // The library's text without its "[json.exception.type_error.302] " tag.
    const std::string what = error.what();
    const size_t tag = what.find("] ");
    Malformed(path, "its quadview data does not read: " +
                        (tag == std::string::npos ? what : what.substr(tag + 2)));
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

bool ReadOwnObj(const std::string& path, ImportedScene& scene) {
  LineReader reader(path);
  bool complete = true;
  const std::string_view first = reader.NextLine(complete);
  if (!StartsWith(first, std::string(kObjMarker) + " ")) return false;
  if (first.substr(std::strlen(kObjMarker) + 1) != std::to_string(kInterchangeVersion)) {
    Malformed(path, "made by another version of quadscene");
  }
  std::vector<float> positions, texcoords;
  auto& records = scene.records.records;
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
      ccw = line.substr(std::strlen(kObjWinding)) == " CCW" ? 1 : 0;
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
      if (result.ec != std::errc() || imageSlot != scene.images.size()) {
        fail("the images are not in slot order");
      }
      // The file name is the rest of the line, spaces and all.
      const std::string file(line.substr(static_cast<size_t>(words[4].data() - line.data())));
      scene.images.push_back(file == "-"
                                 ? ImportedImage()
                                 : ImageFromPng(path, ReadReferencedFile(path, file, lineNumber)));
    }
  }
  // A file cut short (or ended early by a Ctrl+Z) lacks the end line.
  if (!ended) Malformed(path, "it ends before its last record");
  scene.records.count = static_cast<int32_t>(records.size());
  scene.quads = scene.records.count;
  return true;
}

}  // namespace

bool ReadOwnExport(const std::string& path, ImportedScene& scene) {
  const std::string extension = LowerExtension(path);
  if (extension == ".glb" || extension == ".gltf") return ReadOwnGltf(path, scene);
  if (extension == ".obj") return ReadOwnObj(path, scene);
  return false;
}
