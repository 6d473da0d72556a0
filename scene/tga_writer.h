// Writes images as uncompressed 32-bit true-colour TGA (type 2, 8 alpha bits, bottom-left
// origin), the kind every reader of the texture folder takes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene/file_access.h"

// The file's bytes for a width x height image of RGBA texels, rows in file order (row 0 is
// the texture's v = 0 row, shown at the bottom). Sides run from 0 to 65535; callers check
// larger images first (std::invalid_argument otherwise).
std::vector<uint8_t> EncodeTga32(int width, int height, const uint8_t* rgba);

// EncodeTga32 written to `path` through a checked OutputFile.
void WriteTga32(const std::string& path, int width, int height, const uint8_t* rgba);

// The same file written in pieces, never held whole: the header, then the texels in any
// number of runs (RGBA, rows in file order), width * height of them in all.
void WriteTga32Header(OutputFile& file, int width, int height);
void WriteTga32Texels(OutputFile& file, const uint8_t* rgba, size_t texels);
