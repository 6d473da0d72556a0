// The scene writer: one OutputFileSet for the quad list and every image.
#include "scene/scene_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "scene/scene_error.h"
#include "scene/texture_paths.h"
#include "scene/tga.h"
#include "scene/tga_writer.h"

namespace {

bool PathTaken(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

[[noreturn]] void Exists(const std::string& path) {
  throw SceneError("exists; --force overwrites it", path);
}

}  // namespace

SceneWriter::SceneWriter(const std::string& quadListPath, bool force, std::string setName)
    : quadListPath_(quadListPath),
      folder_(TextureFolderPrefix(quadListPath)),
      force_(force),
      setName_(std::move(setName)),
      quadList_(Prepare()),
      records_(quadListPath, quadList_) {}

OutputFile& SceneWriter::Prepare() {
  for (const std::string& path : {quadListPath_, TextureImagePath(folder_, 0)}) {
    if (!force_ && PathTaken(path)) Exists(path);
  }
  files_.MakeFolder(folder_);
  return files_.Add(quadListPath_);
}

void SceneWriter::KeepImagesLike(const std::string& quadListPath) {
  likeFolder_ = TextureFolderPrefix(quadListPath);
}

// The image of the alike scene's slot, if it is there, reads, and has this size: then its
// upload texels (LastTgaImage) are what the new image's texels are matched against.
bool SceneWriter::StartLikeImage(int width, int height) {
  const int number = imageCount_;
  likeSetGoesOn_ = likeSetGoesOn_ && (number == 0 || TextureSetContinues(likeFolder_, number));
  if (!likeSetGoesOn_ || width == 0 || height == 0) return false;
  const std::string path = TextureImagePath(likeFolder_, number);
  const int fd = OpenRegularFile(path, false);
  if (fd < 0) return false;
  const int decoded = ::dup(fd);
  auto file = std::make_unique<InputFile>(fd, path);
  try {
    ReadTgaHeader(std::make_unique<InputFile>(decoded, path));
    const TgaImage& like = LastTgaImage();
    if (like.uploadWidth != width || like.uploadHeight != height || !like.nothingToDecode.empty() ||
        TgaTooLarge(like)) {
      CloseTga();
      return false;
    }
    DecodeTga();
  } catch (const SceneError&) {
    return false;  // it does not read: no match
  }
  likeFile_ = std::move(file);
  likeTexels_ = 0;
  return true;
}

// The texels matched so far are no longer a copy: they start the image as written.
void SceneWriter::LeaveLikeImage() {
  image_ = &files_.Add(TextureImagePath(folder_, imageCount_ - 1));
  const TgaImage& like = LastTgaImage();
  WriteTga32Header(*image_, like.uploadWidth, like.uploadHeight);
  WriteTga32Texels(*image_, like.UploadPixels(), static_cast<size_t>(likeTexels_));
  likeFile_.reset();
}

void SceneWriter::BeginImage(int width, int height) {
  if (image_ != nullptr || likeFile_ != nullptr) {
    throw std::logic_error("images come one at a time");
  }
  texelsLeft_ = uint64_t(width) * uint64_t(height);
  const bool alike = !likeFolder_.empty() && StartLikeImage(width, height);
  ++imageCount_;
  if (alike) return;
  image_ = &files_.Add(TextureImagePath(folder_, imageCount_ - 1));
  WriteTga32Header(*image_, width, height);
}

void SceneWriter::AddTexels(const uint8_t* rgba, size_t texels) {
  if ((image_ == nullptr && likeFile_ == nullptr) || texels > texelsLeft_) {
    throw std::logic_error("more texels than the image holds");
  }
  texelsLeft_ -= texels;
  if (likeFile_ != nullptr) {
    if (std::memcmp(rgba, LastTgaImage().UploadPixels() + likeTexels_ * 4, texels * 4) == 0) {
      likeTexels_ += texels;
      return;
    }
    LeaveLikeImage();
  }
  WriteTga32Texels(*image_, rgba, texels);
}

void SceneWriter::EndImage() {
  if ((image_ == nullptr && likeFile_ == nullptr) || texelsLeft_ != 0) {
    throw std::logic_error("the image is not complete");
  }
  if (likeFile_ != nullptr) {
    image_ = &files_.Add(TextureImagePath(folder_, imageCount_ - 1));
    CopyFileInto(*likeFile_, *image_);
    likeFile_.reset();
  }
  image_->Finish();
  image_ = nullptr;
}

void ImageSink::AddImage(int width, int height, const uint8_t* rgba) {
  BeginImage(width, height);
  AddTexels(rgba, static_cast<size_t>(width) * static_cast<size_t>(height));
  EndImage();
}

void SceneWriter::Commit() {
  if (imageCount_ == 0) AddImage(0, 0, nullptr);  // without 000.tga the viewer opens nothing
  std::vector<std::string> stale;
  for (int number = 0; number < imageCount_; ++number) {
    const std::string image = TextureImagePath(folder_, number);
    if (!force_ && PathTaken(image)) Exists(image);
  }
  // Images numbered after the new set would join it: they are an older scene's.
  for (int number = imageCount_; TextureSetContinues(folder_, number); ++number) {
    stale.push_back(TextureImagePath(folder_, number));
  }
  if (!force_ && !stale.empty()) {
    throw SceneError("exists and would join " + setName_ + "; --force removes it", stale.front());
  }
  files_.Commit(stale);
}
