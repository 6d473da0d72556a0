// Where a scene's texture images live: the quad-list path with its extension replaced by '/'
// ("/maps/nyc.map" -> "/maps/nyc/", ".map" -> "./"), images named by upper-case hex of at
// least three digits ("000.tga", "00A.tga", "3FF.tga"), and which of them form the set.
#pragma once

#include <string>

std::string TextureFolderPrefix(const std::string& quadListPath);
std::string TextureImagePath(const std::string& folderPrefix, int imageNumber);

// Whether the texture set goes on to image `imageNumber` once the images before it are
// loaded: the table has a slot for it and a regular file of its name exists. Numbering must
// be contiguous, so the first missing number (or a folder, a FIFO in its place) ends the set.
// Image 0 is read without this test.
bool TextureSetContinues(const std::string& folderPrefix, int imageNumber);
