// A quad-list file and its texture folder written as one scene (import, demo): the images
// 000.tga, 001.tga, ... in slot order and the records, each file complete under a temporary
// name and never held whole in memory, then all renamed into place together (OutputFileSet):
// the images first, the quad list last, and older images that would join the new set removed
// after. An interruption or a failure at any point leaves the old scene whole, or the new
// one; folders made for it go again.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scene/file_access.h"
#include "scene/quad_list_writer.h"

// Where the images of a texture folder go, one at a time in slot order: BeginImage, its
// width * height texels (RGBA, upload order) in any number of runs through AddTexels, then
// EndImage. An image of no texels (0 x 0) is a slot that draws untextured.
class ImageSink {
 public:
  virtual ~ImageSink() = default;
  virtual void BeginImage(int width, int height) = 0;
  virtual void AddTexels(const uint8_t* rgba, size_t texels) = 0;
  virtual void EndImage() = 0;
  // A whole image at once.
  void AddImage(int width, int height, const uint8_t* rgba);
};

class SceneWriter : public ImageSink {
 public:
  // Refuses ("PATH: exists; --force overwrites it") a scene whose quad list or first image
  // is there already, unless `force`. `setName` names the new set in the refusal of an older
  // image that would join it: "the imported texture set".
  SceneWriter(const std::string& quadListPath, bool force, std::string setName);

  const std::string& QuadListPath() const { return quadListPath_; }

  // From now on, an image that is texel for texel what the viewer uploads for the same slot
  // of the scene at `quadListPath` is written as a copy of that image's file, byte for byte:
  // a scene edited elsewhere and saved back keeps the files of the images nobody changed.
  // Only a regular file that is no symbolic link and decodes to a whole image is a match
  // (never one that reads as no texels or as the stand-in texel), and the file decoded is
  // the file copied: a scene's links cannot have any other file's bytes copied.
  void KeepImagesLike(const std::string& quadListPath);
  int ImageCount() const { return imageCount_; }

  // The next image of the set.
  void BeginImage(int width, int height) override;
  void AddTexels(const uint8_t* rgba, size_t texels) override;
  void EndImage() override;

  // The quad list, written as records come.
  QuadListWriter& Records() { return records_; }

  // Refuses existing images and older ones that would join the set unless `force`, then puts
  // the whole scene in place. A scene of no image gets an image 000 of no texels: without it
  // the viewer opens nothing.
  void Commit();

 private:
  // Refuses an existing scene, makes the folders, and starts the quad list.
  OutputFile& Prepare();

  std::string quadListPath_;
  std::string folder_;
  bool force_;
  std::string setName_;
  OutputFileSet files_;
  OutputFile& quadList_;  // the set's first file: it goes in place last
  QuadListWriter records_;
  int imageCount_ = 0;
  OutputFile* image_ = nullptr;  // the image being written
  uint64_t texelsLeft_ = 0;

  // Keeping the images of a scene alike (KeepImagesLike).
  bool StartLikeImage(int width, int height);
  void LeaveLikeImage();
  std::string likeFolder_;               // empty when no scene is kept alike
  bool likeSetGoesOn_ = true;            // its images so far were all there
  std::unique_ptr<InputFile> likeFile_;  // the image being matched; null when none is
  uint64_t likeTexels_ = 0;              // texels matched so far
};
