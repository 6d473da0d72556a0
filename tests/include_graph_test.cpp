// The product's include graph, read from the `#include "..."` lines of its folders: no two
// units (a .h and its .cpp counting as one) include each other in a loop, and each folder
// includes only itself and the floors below it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Each product folder with the folders it may include besides itself.
const std::map<std::string, std::set<std::string>> kFloorsBelow = {
    {"scene", {}},
    {"render", {"scene"}},
    {"app", {"scene", "render"}},
    {"interchange", {"scene"}},
    {"tools", {"scene", "render", "interchange"}},
};

struct Include {
  std::string folder;  // of the including file
  std::string text;    // "FILE includes TARGET"
  std::string targetFolder;
};

// Each unit ("scene/quad_list") with the units it includes, and every include of the product.
struct IncludeGraph {
  std::map<std::string, std::set<std::string>> units;
  std::vector<Include> includes;
};

// The name of a quoted include on `line` (`#include "scene/tga.h"`, spaces allowed around
// the '#'), or "".
std::string QuotedInclude(const std::string& line) {
  size_t at = line.find_first_not_of(" \t");
  if (at == std::string::npos || line[at] != '#') return "";
  at = line.find_first_not_of(" \t", at + 1);
  if (at == std::string::npos || line.compare(at, 7, "include") != 0) return "";
  at = line.find_first_not_of(" \t", at + 7);
  if (at == std::string::npos || line[at] != '"') return "";
  const size_t end = line.find('"', at + 1);
  return end == std::string::npos ? "" : line.substr(at + 1, end - at - 1);
}

// Reads the quoted includes of every .h and .cpp of the product's folders. A name without a
// folder is its own folder's; a name that is no file of the tree (a generated header) is left
// out.
IncludeGraph ReadIncludeGraph(const fs::path& root) {
  IncludeGraph graph;
  for (const auto& [folder, floors] : kFloorsBelow) {
    for (const fs::directory_entry& entry : fs::directory_iterator(root / folder)) {
      const fs::path& file = entry.path();
      if (file.extension() != ".h" && file.extension() != ".cpp") continue;
      const std::string unit = folder + "/" + file.stem().string();
      graph.units[unit];
      std::ifstream in(file);
      std::string line;
      while (std::getline(in, line)) {
        std::string target = QuotedInclude(line);
        if (target.empty()) continue;
        if (target.find('/') == std::string::npos) target = folder + "/" + target;
        if (!fs::is_regular_file(root / target)) continue;
        graph.includes.push_back({folder,
                                  folder + "/" + file.filename().string() + " includes " + target,
                                  target.substr(0, target.find('/'))});
        const std::string targetUnit = fs::path(target).replace_extension().string();
        if (targetUnit != unit) graph.units[unit].insert(targetUnit);
      }
    }
  }
  return graph;
}

// The first loop found, as "a -> b -> a", or "" when there is none.
std::string FindLoop(const std::map<std::string, std::set<std::string>>& units) {
  enum class Mark { kNone, kOnPath, kDone };
  std::map<std::string, Mark> marks;
  std::vector<std::string> path;
  std::string loop;
  const auto visit = [&](const auto& self, const std::string& unit) -> void {
    marks[unit] = Mark::kOnPath;
    path.push_back(unit);
    const auto found = units.find(unit);
    if (found != units.end()) {
      for (const std::string& next : found->second) {
        if (!loop.empty()) break;
        if (marks[next] == Mark::kOnPath) {
          for (auto it = std::find(path.begin(), path.end(), next); it != path.end(); ++it) {
            loop += *it + " -> ";
          }
          loop += next;
        } else if (marks[next] == Mark::kNone) {
          self(self, next);
        }
      }
    }
    path.pop_back();
    marks[unit] = Mark::kDone;
  };
  for (const auto& [unit, targets] : units) {
    if (loop.empty() && marks[unit] == Mark::kNone) visit(visit, unit);
  }
  return loop;
}

TEST(IncludeGraph, NoUnitsIncludeEachOtherInALoop) {
  const IncludeGraph graph = ReadIncludeGraph(QUADVIEW_SOURCE_DIR);
  ASSERT_GT(graph.units.size(), 50u);  // the folders were found and read
  EXPECT_EQ(FindLoop(graph.units), "");
}

TEST(IncludeGraph, FoldersIncludeThemselvesAndTheFloorsBelow) {
  const IncludeGraph graph = ReadIncludeGraph(QUADVIEW_SOURCE_DIR);
  std::vector<std::string> climbing;
  for (const Include& include : graph.includes) {
    if (include.targetFolder != include.folder &&
        kFloorsBelow.at(include.folder).count(include.targetFolder) == 0) {
      climbing.push_back(include.text);
    }
  }
  EXPECT_EQ(climbing, std::vector<std::string>());
}

}  // namespace
