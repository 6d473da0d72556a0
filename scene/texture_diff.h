// What changed between the texture sets of two scenes, slot by slot: each set walked as the
// viewer walks it (000.tga on, to the first missing number) and each image compared as the
// TGA reader decodes it (size and RGBA texels), whatever a graphics driver would refuse.
#pragma once

#include <functional>
#include <string>

// Calls `visit` with the slot and a text for every slot whose images differ, in slot order:
// "added NEW/003.tga 64x64", "removed OLD/003.tga 64x64", "other size: OLD 64x64, NEW 32x32",
// "other pixels: OLD 64x64, NEW 64x64: 12 of 4096 differ", or "rejected: OLD 64x64, NEW:
// MESSAGE" when the reader (or the viewer's texture budget, counted for each set) refuses
// one of two images of other bytes. Files of the same bytes are alike without decoding.
// The images are read one slot at a time.
void CompareTextureSets(const std::string& oldQuadListPath, const std::string& newQuadListPath,
                        const std::function<void(int slot, const std::string& text)>& visit);
