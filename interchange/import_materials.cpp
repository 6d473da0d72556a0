// What the materials of a model read by Assimp become, in the contained model reader's
// process: an image each, its base colour texture of coordinate set 0 (beside the source or
// embedded, its header read first, decoded by stb_image) times its base colour, or a 1 x 1
// image of the colour alone, and a blend mode. Identical images share a slot; images go to the
// sink as they are made, a run of texels at a time, and none is held but the last texture read.
#include <assimp/GltfMaterial.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "interchange/stages.h"
#include "scene/file_access.h"

namespace {

constexpr int kOpaqueAlpha = 255;
constexpr int kRgbaChannels = 4;
constexpr uint64_t kColourImagesReserve = uint64_t{kTextureSlots} * kRgbaChannels;

// A material's colour factor as a tint: within 0 to 1, and 1 (no tint) for one that is not a
// number (Assimp reads "nan" in an MTL file as one).
float TintFactor(float factor) {
  return std::isnan(factor) ? 1.0f : std::clamp(factor, 0.0f, 1.0f);
}

uint8_t Scaled(uint8_t texel, float factor) {
  return static_cast<uint8_t>(std::round(static_cast<float>(texel) * factor));
}

// A material's image: its texture (or a 1 x 1 white texel) times the material's colour, made
// a run of texels at a time, so that materials tinting one texture differently decode it once
// and no tinted image is ever held whole.
class TintedImage {
 public:
  TintedImage(const DecodedImage& texture, const float factors[kRgbaChannels]) : texture_(texture) {
    for (int channel = 0; channel < kRgbaChannels; ++channel) {
      for (int value = 0; value < 256; ++value) {
        table_[channel][value] = Scaled(static_cast<uint8_t>(value), factors[channel]);
      }
    }
  }
  int Width() const { return texture_.width; }
  int Height() const { return texture_.height; }
  size_t Bytes() const { return texture_.Bytes(); }

  // Hands the tinted texels to take(rgba, texels) in order, kRunTexels at a time: every run but
  // the last is a whole number of 8-byte words.
  template <typename Take>
  void ForEachRun(Take take) const {
    const size_t texels = Bytes() / kRgbaChannels;
    std::vector<uint8_t> run(std::min(texels, kRunTexels) * kRgbaChannels);
    for (size_t at = 0; at < texels; at += kRunTexels) {
      const size_t count = std::min(kRunTexels, texels - at);
      const uint8_t* in = texture_.rgba.get() + at * kRgbaChannels;
      for (size_t i = 0; i < count * kRgbaChannels; i += kRgbaChannels) {
        for (int channel = 0; channel < kRgbaChannels; ++channel) {
          run[i + channel] = table_[channel][in[i + channel]];
        }
      }
      take(run.data(), count);
    }
  }

 private:
  static constexpr size_t kRunTexels = 16384;
  const DecodedImage& texture_;
  uint8_t table_[kRgbaChannels][256];
};

// Two independent 64-bit hashes of the texels (FNV-1a, and a multiply-rotate mix, both over
// 8-byte words), with the size: images that agree in all of them are taken as identical.
// Fed in runs of whole words; only the last run may end with a part of one.
struct ImageKey {
  uint64_t fnv = 14695981039346656037ull;
  uint64_t mix = 0x243F6A8885A308D3ull;  // not 0: leading zero words change it too
  int width = 0;
  int height = 0;

  void Add(const uint8_t* bytes, size_t size) {
    size_t at = 0;
    for (; at + 8 <= size; at += 8) {
      uint64_t word = 0;
      std::memcpy(&word, bytes + at, sizeof word);
      fnv = (fnv ^ word) * 1099511628211ull;
      mix = Rotated(mix ^ word) * 0x9E3779B97F4A7C15ull;
    }
    for (; at < size; ++at) {
      fnv = (fnv ^ bytes[at]) * 1099511628211ull;
      mix = Rotated(mix ^ bytes[at]) * 0x9E3779B97F4A7C15ull;
    }
  }
  bool operator<(const ImageKey& other) const {
    return std::tie(fnv, mix, width, height) <
           std::tie(other.fnv, other.mix, other.width, other.height);
  }

 private:
  static uint64_t Rotated(uint64_t value) { return value << 27 | value >> 37; }
};

// A 1 x 1 image of opaque white, to be tinted by a material's colour.
DecodedImage WhiteTexel() {
  DecodedImage image;
  image.width = image.height = 1;
  image.rgba.reset(static_cast<uint8_t*>(std::malloc(kRgbaChannels)));
  if (image.rgba == nullptr) throw std::bad_alloc();
  std::memset(image.rgba.get(), 255, kRgbaChannels);
  return image;
}

}  // namespace

// The images of the texture folder: one slot per distinct image, sent to the sink when it is
// first seen. Past kTextureSlots images are only counted: the import then fails saying how
// many it needs.
class MaterialImages::Slots {
 public:
  Slots(ImageSink& sink, int64_t& count) : sink_(sink), count_(count) {}
  // The image's slot; `alpha` tells whether any texel of it is not opaque.
  int32_t SlotOf(const TintedImage& image, bool& alpha) {
    ImageKey key;
    key.width = image.Width();
    key.height = image.Height();
    alpha = false;
    image.ForEachRun([&](const uint8_t* rgba, size_t texels) {
      key.Add(rgba, texels * kRgbaChannels);
      for (size_t i = 0; i < texels; ++i)
        alpha = alpha || rgba[i * kRgbaChannels + 3] < kOpaqueAlpha;
    });
    const auto known = slots_.find(key);
    if (known != slots_.end()) return known->second;
    const int32_t slot = static_cast<int32_t>(count_++);
    if (slot < kTextureSlots) {
      sink_.BeginImage(image.Width(), image.Height());
      image.ForEachRun(
          [this](const uint8_t* rgba, size_t texels) { sink_.AddTexels(rgba, texels); });
      sink_.EndImage();
      uploadBytes_ += image.Bytes();
    }
    slots_.emplace(key, slot);
    return slot;
  }
  uint64_t UploadBytes() const { return uploadBytes_; }
  int64_t Count() const { return count_; }

  // The use an earlier material of the same texture, colour and mode made (`key`).
  bool Known(const std::string& key, MaterialUse& use) const {
    const auto known = uses_.find(key);
    if (known == uses_.end()) return false;
    use = known->second;
    return true;
  }
  void Remember(const std::string& key, const MaterialUse& use) { uses_[key] = use; }

 private:
  ImageSink& sink_;
  int64_t& count_;
  std::map<ImageKey, int32_t> slots_;
  std::map<std::string, MaterialUse> uses_;
  uint64_t uploadBytes_ = 0;
};

// Reads a material's texture: embedded in the scene (compressed, or as Assimp's ARGB texels),
// or a file the model may read. The last one read is kept until another is asked for:
// materials naming one texture in a row (an atlas, tinted differently) decode it once.
class MaterialImages::Textures {
 public:
  Textures(const aiScene* scene, const std::string& source, ModelFileAccess& files,
           uint64_t budgetBytes)
      : scene_(scene), source_(source), files_(files), budgetBytes_(budgetBytes) {}

  // The texture `name`, untinted; null with `why` when there is none to be had, or when its
  // header says it would pass the texture budget (then it is not decoded).
  const DecodedImage* Read(const aiString& name, uint64_t budgetUsed, std::string& why) {
    if (!held_ || heldName_ != name.C_Str()) {
      texture_ = DecodedImage();  // the one held goes before the next is decoded
      held_ = false;              // until this read has ended
      heldWhy_.clear();
      heldOk_ = ReadTexture(name, budgetUsed, texture_, heldWhy_);
      if (!heldOk_) texture_ = DecodedImage();
      heldName_ = name.C_Str();
      held_ = true;
    } else if (heldOk_ && !WithinBudget(texture_.width, texture_.height, budgetUsed, why)) {
      return nullptr;
    }
    if (!heldOk_) {
      why = heldWhy_;
      return nullptr;
    }
    return &texture_;
  }

 private:
  bool ReadTexture(const aiString& name, uint64_t budgetUsed, DecodedImage& image,
                   std::string& why) {
    if (const aiTexture* embedded = scene_->GetEmbeddedTexture(name.C_Str())) {
      if (embedded->mHeight == 0) {  // compressed: mWidth bytes of a file format
        ImageBytes bytes;
        bytes.data = reinterpret_cast<const uint8_t*>(embedded->pcData);
        bytes.size = embedded->mWidth;
        return Decode(bytes, budgetUsed, image, why);
      }
      return Texels(*embedded, budgetUsed, image, why);
    }
    std::string file = name.C_Str();
    for (char& c : file) {
      if (c == '\\') c = '/';
    }
    const std::string folder = FolderOf(source_);
    const std::string candidates[] = {file.empty() || file[0] == '/' ? file : folder + file,
                                      folder + file.substr(file.rfind('/') + 1)};
    std::string refusal;
    for (const std::string& candidate : candidates) {
      std::string candidateRefusal;
      const int fd = files_.Open(candidate, candidateRefusal);
      if (fd < 0) {
        if (refusal.empty()) refusal = candidateRefusal;
        continue;
      }
      InputFile input(fd, candidate);
      ImageBytes bytes;
      bytes.file = &input;
      bytes.size = static_cast<uint64_t>(input.Size());
      return Decode(bytes, budgetUsed, image, why);
    }
    why =
        "its texture " + (refusal.empty() ? std::string(name.C_Str()) + " is not there" : refusal);
    return false;
  }

  bool WithinBudget(int width, int height, uint64_t budgetUsed, std::string& why) const {
    const uint64_t bytes = uint64_t(width) * uint64_t(height) * kRgbaChannels;
    if (bytes <= budgetBytes_ && budgetUsed <= budgetBytes_ - bytes) return true;
    why = "its texture (" + std::to_string(width) + " x " + std::to_string(height) +
          ") passes the texture budget of " + std::to_string(budgetBytes_ >> 20) + " MiB";
    return false;
  }

  bool Decode(const ImageBytes& bytes, uint64_t budgetUsed, DecodedImage& image,
              std::string& why) const {
    int width = 0, height = 0;
    return ReadImageSize(bytes, width, height, why) &&
           WithinBudget(width, height, budgetUsed, why) && DecodeImage(bytes, image, why);
  }

  // Uncompressed ARGB8888 texels, the top row first.
  bool Texels(const aiTexture& embedded, uint64_t budgetUsed, DecodedImage& image,
              std::string& why) const {
    if (!FitsTextureFolder(embedded.mWidth, embedded.mHeight, why) ||
        !WithinBudget(static_cast<int>(embedded.mWidth), static_cast<int>(embedded.mHeight),
                      budgetUsed, why)) {
      return false;
    }
    image.width = static_cast<int>(embedded.mWidth);
    image.height = static_cast<int>(embedded.mHeight);
    image.rgba.reset(static_cast<uint8_t*>(std::malloc(image.Bytes())));
    if (image.rgba == nullptr) throw std::bad_alloc();
    for (unsigned row = 0; row < embedded.mHeight; ++row) {
      for (unsigned column = 0; column < embedded.mWidth; ++column) {
        const aiTexel& texel = embedded.pcData[row * embedded.mWidth + column];
        uint8_t* out =
            image.rgba.get() + (size_t{embedded.mHeight - 1 - row} * embedded.mWidth + column) * 4;
        out[0] = texel.r;
        out[1] = texel.g;
        out[2] = texel.b;
        out[3] = texel.a;
      }
    }
    return true;
  }

  const aiScene* scene_;
  const std::string& source_;
  ModelFileAccess& files_;
  uint64_t budgetBytes_;
  bool held_ = false;  // whether heldName_ was read, and heldOk_ and texture_ or heldWhy_ say how
  std::string heldName_;
  bool heldOk_ = false;
  DecodedImage texture_;
  std::string heldWhy_;
};

MaterialImages::MaterialImages(const aiScene* scene, const std::string& source,
                               ModelFileAccess& files, uint64_t textureBudgetBytes,
                               ImageSink& images, int64_t& imageCount)
    : scene_(scene),
      // Textures leave room in the budget for a 1 x 1 image of colour in every slot, which
      // the budget counts like any other image.
      textures_(std::make_unique<Textures>(
          scene, source, files,
          textureBudgetBytes - std::min(textureBudgetBytes, kColourImagesReserve))),
      slots_(std::make_unique<Slots>(images, imageCount)) {}

MaterialImages::~MaterialImages() = default;

MaterialUse MaterialImages::Use(unsigned index, std::vector<std::string>& warnings) {
  Textures& textures = *textures_;
  Slots& slots = *slots_;
  const aiMaterial* material = scene_->mMaterials[index];
  aiString materialName;
  material->Get(AI_MATKEY_NAME, materialName);
  const std::string label = "material '" + std::string(materialName.C_Str()) + "'";
  aiColor4D colour(1, 1, 1, 1);
  if (material->Get(AI_MATKEY_BASE_COLOR, colour) != AI_SUCCESS) {
    aiColor3D diffuse(1, 1, 1);
    if (material->Get(AI_MATKEY_COLOR_DIFFUSE, diffuse) == AI_SUCCESS) {
      colour = aiColor4D(diffuse.r, diffuse.g, diffuse.b, 1);
    }
  }
  float opacity = 1;
  if (material->Get(AI_MATKEY_OPACITY, opacity) == AI_SUCCESS) colour.a *= opacity;
  aiString alphaMode;
  const bool blendMode = material->Get(AI_MATKEY_GLTF_ALPHAMODE, alphaMode) == AI_SUCCESS &&
                         std::strcmp(alphaMode.C_Str(), "BLEND") == 0;

  aiString texture;
  bool textured = false;
  for (const aiTextureType type : {aiTextureType_BASE_COLOR, aiTextureType_DIFFUSE}) {
    unsigned uvSet = 0;
    if (material->GetTexture(type, 0, &texture, nullptr, &uvSet) != AI_SUCCESS) continue;
    if (uvSet != 0) {
      warnings.push_back(label + ": its texture uses coordinate set " + std::to_string(uvSet) +
                         "; only set 0 is kept, so its colour is used instead");
    } else {
      textured = true;
    }
    break;
  }
  // Materials of the same texture, colour and mode make the same image: it is read once.
  const float factors[kRgbaChannels] = {TintFactor(colour.r), TintFactor(colour.g),
                                        TintFactor(colour.b), TintFactor(colour.a)};
  std::string key = textured ? std::string(texture.C_Str()) : std::string();
  key.append(reinterpret_cast<const char*>(factors), sizeof factors);
  key += blendMode ? 'B' : 'O';
  MaterialUse use;
  if (!slots.Known(key, use)) {
    const DecodedImage* base = nullptr;
    std::string why;
    if (textured) {
      base = textures.Read(texture, slots.UploadBytes(), why);
      if (base == nullptr) {
        warnings.push_back(label + ": " + (why.empty() ? "its texture does not decode" : why) +
                           "; its colour is used instead");
      }
    }
    const DecodedImage white = base == nullptr ? WhiteTexel() : DecodedImage();
    bool textureAlpha = false;
    use.slot = slots.SlotOf(TintedImage(base != nullptr ? *base : white, factors), textureAlpha);
    use.blend = textureAlpha || factors[3] < 1 || blendMode ? kBlendAlpha : 0;
    slots.Remember(key, use);
  }
  for (const aiTextureType dropped :
       {aiTextureType_NORMALS, aiTextureType_NORMAL_CAMERA, aiTextureType_SPECULAR,
        aiTextureType_EMISSIVE, aiTextureType_EMISSION_COLOR, aiTextureType_HEIGHT,
        aiTextureType_SHININESS, aiTextureType_LIGHTMAP, aiTextureType_METALNESS,
        aiTextureType_DIFFUSE_ROUGHNESS, aiTextureType_AMBIENT_OCCLUSION}) {
    if (material->GetTextureCount(dropped) > 0) {
      warnings.push_back(label + ": its " + aiTextureTypeToString(dropped) +
                         " texture is dropped (only the base colour is kept)");
    }
  }
  return use;
}

void MaterialImages::AddWhiteWhenNone() {
  if (slots_->Count() > 0) return;
  const float opaqueWhite[kRgbaChannels] = {1, 1, 1, 1};
  bool alpha = false;
  slots_->SlotOf(TintedImage(WhiteTexel(), opaqueWhite), alpha);
}
