// quadscene diff: what changed between two versions of a scene, a line per record and per
// image (scene/record_diff.h, scene/texture_diff.h), with the exit status of diff and cmp.
// With --png it draws the new scene as render does and marks where the changes are.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "render/frame_renderer.h"
#include "render/headless_surface.h"
#include "render/headless_view.h"
#include "render/record_marks.h"
#include "render/texture_set.h"
#include "scene/file_access.h"
#include "scene/parallel_reader.h"
#include "scene/quad_list.h"
#include "scene/record_diff.h"
#include "scene/record_place.h"
#include "scene/scene_error.h"
#include "scene/texture_diff.h"
#include "scene/texture_paths.h"
#include "tools/commands.h"
#include "tools/terminal_progress.h"

namespace {

// diff's and cmp's statuses: no difference, differences, trouble.
constexpr int kExitSame = 0;
constexpr int kExitDifferent = 1;
constexpr int kExitTrouble = 2;
constexpr int64_t kLinesPerOutputCheck = 4096;

constexpr MarkColour kChangedMark{255, 200, 0};
constexpr MarkColour kAddedMark{0, 220, 0};
constexpr MarkColour kMovedMark{60, 140, 255};
constexpr MarkColour kRemovedMark{255, 40, 40};

struct DiffOptions {
  std::string oldPath;
  std::string newPath;
  std::string pngPath;
  ViewOptions view;
};

struct DiffCounts {
  int64_t changed = 0, added = 0, removed = 0, moved = 0, images = 0;
  int64_t Total() const { return changed + added + removed + moved + images; }
};

// The records marked in the picture: the new side's, and the removed ones of the old side.
struct Marks {
  std::vector<int32_t> changed, added, moved, removed;
};

TextureNumbering NumberingOf(const std::string& path) {
  TextureNumbering numbering;
  numbering.read = TextureNumberOffset(path, numbering.shift);
  return numbering;
}

void ReadSide(const std::string& path, const TextureNumbering& numbering, QuadTable& table) {
  TerminalProgress progress("reading " + path, TerminalProgress::Unit::kBytes);
  ReadQuadList(path, table, progress, numbering.read ? &numbering.shift : nullptr);
}

std::string Place(const std::string& path, int32_t index) {
  return path + ":" + std::to_string(HeaderLine(index));
}
std::string Number(int32_t index) {
  return std::to_string(int64_t{index} + 1);
}

// Names from the command line may hold anything: the line goes out as Printable shows it.
void PrintLine(const std::string& text, DiffCounts& counts) {
  const std::string line = Printable(text);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::putchar('\n');
  if (counts.Total() % kLinesPerOutputCheck == 0) CheckStandardOutput();
}

void DrawMarkedPicture(const DiffOptions& options, const QuadTable& oldTable,
                       const QuadTable& newTable, const Marks& marks) {
  const int width = options.view.width, height = options.view.height;
  const HeadlessView view(width, height);
  TextureTable textures{};
  try {
    LoadTextureSet(options.newPath, textures);
  } catch (const SceneError&) {
    // A set that fails part-way is drawn with the images before it; the image lines say why.
  }
  const CameraState camera = ViewCamera(options.view, newTable);
  RenderFrame(camera, newTable, textures);
  DrawRecordMarks(camera, newTable, marks.changed, kChangedMark, true);
  DrawRecordMarks(camera, newTable, marks.moved, kMovedMark, true);
  DrawRecordMarks(camera, newTable, marks.added, kAddedMark, true);
  DrawRecordMarks(camera, oldTable, marks.removed, kRemovedMark, false);
  FinishHeadlessFrame();
  WriteViewPng(options.pngPath, width, height, ReadHeadlessPixels());
}

// --png may not replace a file of the scenes it compares: the quad lists, or anything in
// their texture folders, by name or through a link.
void CheckPictureTarget(const std::string& pngPath, const std::string& oldPath,
                        const std::string& newPath) {
  char* resolved = ::realpath(pngPath.c_str(), nullptr);
  const std::string target = resolved != nullptr ? resolved : pngPath;
  std::free(resolved);
  const std::string folder = FolderOf(target).empty() ? "." : FolderOf(target);
  for (const std::string& scene : {oldPath, newPath}) {
    if (SameFileNode(target, scene) || SameFileNode(folder, TextureFolderPrefix(scene))) {
      throw SceneError("Cannot write file " + pngPath + ": it belongs to the scenes compared");
    }
  }
}

bool RunDiff(const DiffOptions& options) {
  const std::string& oldPath = options.oldPath;
  const std::string& newPath = options.newPath;
  if (!IsRegularFile(oldPath)) throw CannotOpenFile(oldPath);
  if (!IsRegularFile(newPath)) throw CannotOpenFile(newPath);
  if (!options.pngPath.empty()) CheckPictureTarget(options.pngPath, oldPath, newPath);
  QuadTable oldTable, newTable;
  const DiffSide oldSide{oldTable, NumberingOf(oldPath)};
  const DiffSide newSide{newTable, NumberingOf(newPath)};
  ReadSide(oldPath, oldSide.numbering, oldTable);
  ReadSide(newPath, newSide.numbering, newTable);

  DiffCounts counts;
  Marks marks;
  const bool drawing = !options.pngPath.empty();
  AlignRecords(oldSide, newSide, AvailableReaderThreads(), [&](const RecordChange& change) {
    const int32_t i = change.oldIndex, j = change.newIndex;
    switch (change.kind) {
      case RecordChangeKind::kChanged:
        ++counts.changed;
        if (drawing) marks.changed.push_back(j);
        PrintLine("changed " + Place(oldPath, i) + " " + Place(newPath, j) + ": record " +
                      Number(i) + " -> " + Number(j) + ": " +
                      DescribeRecordDifference(
                          oldTable.records[static_cast<size_t>(i)], oldSide.numbering,
                          newTable.records[static_cast<size_t>(j)], newSide.numbering),
                  counts);
        break;
      case RecordChangeKind::kAdded:
        ++counts.added;
        if (drawing) marks.added.push_back(j);
        PrintLine("added " + Place(newPath, j) + ": record " + Number(j), counts);
        break;
      case RecordChangeKind::kRemoved:
        ++counts.removed;
        if (drawing) marks.removed.push_back(i);
        PrintLine("removed " + Place(oldPath, i) + ": record " + Number(i), counts);
        break;
      case RecordChangeKind::kMoved:
        ++counts.moved;
        if (drawing) marks.moved.push_back(j);
        PrintLine("moved " + Place(oldPath, i) + " " + Place(newPath, j) + ": record " + Number(i) +
                      " -> " + Number(j),
                  counts);
        break;
    }
  });
  CompareTextureSets(oldPath, newPath, [&counts](int slot, const std::string& text) {
    ++counts.images;
    PrintLine("image " + std::to_string(slot) + ": " + text, counts);
  });
  std::printf("%lld changed, %lld added, %lld removed, %lld moved, %s\n",
              static_cast<long long>(counts.changed), static_cast<long long>(counts.added),
              static_cast<long long>(counts.removed), static_cast<long long>(counts.moved),
              Counted(counts.images, "image").c_str());
  if (drawing) DrawMarkedPicture(options, oldTable, newTable, marks);
  return counts.Total() > 0;
}

}  // namespace

void RegisterDiffCommand(CLI::App& app, int& exitStatus) {
  CLI::App* command = app.add_subcommand(
      "diff",
      "Say what changed from OLD to NEW, a line per record (changed, added, removed, moved; "
      "records counted from 1, with their header lines) and per image slot, then the counts. "
      "Values are compared as numbers, so other spellings and line ends are no difference. "
      "Exit status as diff's: 0 when nothing differs, 1 when something does, 2 on trouble");
  static DiffOptions options;
  command->add_option("OLD", options.oldPath, "Quad-list file of the old version")->required();
  command->add_option("NEW", options.newPath, "Quad-list file of the new version")->required();
  command
      ->add_option("--png", options.pngPath,
                   "Also draw NEW as render does and save it as PNG, changed records marked "
                   "yellow, added green, moved blue and removed ones outlined red")
      ->type_name("OUT.png");
  AddViewOptions(command, options.view);
  AddFitOption(command, options.view);
  AddAsOption(command);
  AddQuietOption(command);
  command->callback([&exitStatus]() {
    bool different = false;
    const int status = RunCommand(options.newPath, [&different] { different = RunDiff(options); });
    exitStatus = status != kExitOk ? kExitTrouble : different ? kExitDifferent : kExitSame;
  });
}
