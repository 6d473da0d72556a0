// The rules of `quadscene check`: everything in a scene that will not show as its author
// meant, found with the rules the viewer's load uses (the texture set's walk and limits, the
// reader) and handed back as findings, each with its message, for a front-end to show.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scene/scene_types.h"

// Two triangles of one quad meeting at more than this many degrees: far from planar.
constexpr int kNonPlanarDegrees = 20;

// An image of the texture set, or one left out of it, and what will not show as meant.
struct ImageFinding {
  std::string image;  // its path
  std::string what;
};

// What the walk of a texture set found, in the walk's order.
struct TextureSetCheck {
  std::vector<bool> textured;  // per image of the set: whether its slot draws textured
  std::vector<ImageFinding> findings;
};

// Walks the texture set of `quadListPath` as the viewer's load does (WalkTexturesLikeTheViewer
// with `maxTextureSize`) into `check`: for each image, refused by GL's limits, a kind older
// readers reject, a side that is not a power of two, nothing to decode or data cut short; then
// the first image after a gap in the numbering, which is never loaded. The walk's errors
// propagate as the viewer's load raises them; `check` keeps what was found before one.
void CheckTextureSet(const std::string& quadListPath,
                     const std::function<int32_t()>& maxTextureSize, TextureSetCheck& check);

enum class RecordFindingKind {
  kSlotOutside,
  kSlotWithoutImage,
  kOtherBlend,
  kNotFinite,
  kNoArea,
  kNotPlanar,
  kUnreadTextureNumber
};

// Records that share one finding: its kind, the value that tells findings of a kind apart
// where the message names one (a slot, a blend; else 0), how many records have it, the first
// of them, and the message.
struct RecordFinding {
  RecordFindingKind kind = RecordFindingKind::kSlotOutside;
  int64_t value = 0;
  int64_t count = 0;
  int32_t firstRecord = 0;
  std::string what;
};

// The findings on the records of `table`, read from `quadListPath`, in the order of their
// messages. `textured` is CheckTextureSet's, or null when the texture set could not be
// walked: which slots draw textured is then unknown. A file whose name does not read texture
// numbers is read once more, its texture numbers taken this time, to find records that
// give one other than 0; a read that fails there finds nothing.
std::vector<RecordFinding> CheckRecords(const std::string& quadListPath, const QuadTable& table,
                                        const std::vector<bool>* textured);

// Calls `visit` with the index of every record of the quad list at `path` whose texture
// number is not 0 although the file's name does not have it read (its quads all draw with
// slot 0). Nothing for a name that reads them, or when token 0 is no number throughout.
void ForEachUnreadTextureNumber(const std::string& path, const std::function<void(int32_t)>& visit);

// The viewer's, render's and info's line for such a file: "PATH: warning: N records hold
// texture numbers, but only files named ... read them: every quad draws with slot 0 (--as
// NAME reads them)", or "" when there is none.
std::string UnreadTextureNumbersWarning(const std::string& path);
// Writes that line, if any, on stderr.
void WarnOfUnreadTextureNumbers(const std::string& path);
