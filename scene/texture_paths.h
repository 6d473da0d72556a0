// Where a scene's texture images live: the quad-list path with its extension replaced by '/'
// ("/maps/nyc.map" -> "/maps/nyc/"), images named by upper-case hex of at least three
// digits ("000.tga", "00A.tga", "3FF.tga").
#pragma once

#include <string>

std::string TextureFolderPrefix(const std::string& quadListPath);
std::string TextureImagePath(const std::string& folderPrefix, int imageNumber);
