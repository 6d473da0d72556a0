// Record alignment: a fixed 64-bit hash of each record's values (no seed, so every build aligns
// alike), sorted runs of equal hashes for the records unique on both sides, the longest run of
// them in the same order as anchors (patience sorting, n log n), moves matched value by value,
// and a walk over the gaps that reports in the new file's order. Nothing is quadratic: equal
// hashes, made on purpose or not, are told apart by sorting on the values themselves, and
// moves skip a gap's own records in one step.
#include "scene/record_diff.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "scene/record_format.h"

namespace {

constexpr int kCorners = 4;
constexpr uint32_t kCanonicalNan = 0x7FC00000u;
constexpr uint64_t kHashMultiplier = 0x9E3779B97F4A7C15ull;  // 2^64 / golden ratio
constexpr char kArrow[] = " -> ";

// The five values of a corner in file order (z as the file holds it).
void FileValues(const QuadRecord& record, int corner, float (&values)[kCornerTokens]) {
  ValuesFromCorner(record.corners[corner], values);
}

// Equal numbers give equal bits: -0 is 0, every NaN one NaN.
uint32_t CanonicalBits(float value) {
  if (value == 0.0f) return 0;
  if (std::isnan(value)) return kCanonicalNan;
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

uint32_t TextureNumber(const QuadRecord& record, const TextureNumbering& numbering) {
  return static_cast<uint32_t>(record.textureIndex) + static_cast<uint32_t>(numbering.shift);
}

// The words a record's values are compared by, each number in canonical bits: equal keys
// exactly for equal values. Word 1, the texture number, counts only where both files read it
// (`numbersCompared`); within a file it follows the slot.
constexpr int kValueWords = 4 + kCorners * kCornerTokens;
constexpr int kNumberWord = 1;
using ValueWords = uint32_t[kValueWords];
void ValueKey(const QuadRecord& record, const TextureNumbering& numbering, bool numbersCompared,
              ValueWords& key) {
  key[0] = static_cast<uint32_t>(record.textureIndex);
  key[kNumberWord] = numbersCompared ? TextureNumber(record, numbering) : 0;
  key[2] = record.blend;
  key[3] = record.counterClockwise;
  for (int corner = 0; corner < kCorners; ++corner) {
    float values[kCornerTokens];
    FileValues(record, corner, values);
    for (int k = 0; k < kCornerTokens; ++k) {
      key[4 + corner * kCornerTokens + k] = CanonicalBits(values[k]);
    }
  }
}

// Over the value words but the texture number, so that it is the same in both files.
uint64_t RecordHash(const QuadRecord& record) {
  ValueWords key;
  ValueKey(record, TextureNumbering{}, false, key);
  uint64_t hash = 0;
  for (const uint32_t word : key) {
    hash = (hash ^ word) * kHashMultiplier;
    hash ^= hash >> 32;
  }
  // A final avalanche, so that sorting by hash groups nothing by field order.
  hash ^= hash >> 33;
  hash *= 0xFF51AFD7ED558CCDull;
  return hash ^ (hash >> 33);
}

struct Keyed {
  uint64_t hash;
  int32_t index;
  bool operator<(const Keyed& other) const {
    return hash != other.hash ? hash < other.hash : index < other.index;
  }
};

// Every record's hash with its index, sorted; the hashing runs on `threads` threads.
std::vector<Keyed> SortedHashes(const QuadTable& table, int threads) {
  const size_t count = DrawnQuadCount(table);
  std::vector<Keyed> keys(count);
  const size_t parts = static_cast<size_t>(std::max(threads, 1));
  const size_t step = (count + parts - 1) / parts;
  std::vector<std::thread> workers;
  for (size_t begin = 0; begin < count; begin += step) {
    const size_t end = std::min(count, begin + step);
    workers.emplace_back([&table, &keys, begin, end] {
      for (size_t i = begin; i < end; ++i) {
        keys[i] = Keyed{RecordHash(table.records[i]), static_cast<int32_t>(i)};
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  std::sort(keys.begin(), keys.end());
  return keys;
}

// A record of a gap with its value's hash; moves are only possible between two gaps.
struct Entry {
  uint64_t hash;
  int32_t side;  // 0 old, 1 new: the old side's records first within a value
  int32_t index;
  int32_t gap;
};

class Aligner {
 public:
  Aligner(const DiffSide& oldSide, const DiffSide& newSide)
      : old_(oldSide),
        new_(newSide),
        oldCount_(static_cast<int32_t>(DrawnQuadCount(oldSide.table))),
        newCount_(static_cast<int32_t>(DrawnQuadCount(newSide.table))),
        newToOld_(static_cast<size_t>(newCount_), -1),
        oldAnchored_(static_cast<size_t>(oldCount_), false) {}

  void FindAnchors(int threads) {
    std::vector<Keyed> oldKeys, newKeys;
    {
      std::thread oldWork([&] { oldKeys = SortedHashes(old_.table, threads); });
      newKeys = SortedHashes(new_.table, threads);
      oldWork.join();
    }
    // Pairs whose value occurs once on each side, in the old side's order.
    std::vector<std::pair<int32_t, int32_t>> unique;
    size_t a = 0, b = 0;
    while (a < oldKeys.size() && b < newKeys.size()) {
      if (oldKeys[a].hash != newKeys[b].hash) {
        (oldKeys[a].hash < newKeys[b].hash ? a : b)++;
        continue;
      }
      const uint64_t hash = oldKeys[a].hash;
      size_t aEnd = a, bEnd = b;
      while (aEnd < oldKeys.size() && oldKeys[aEnd].hash == hash) ++aEnd;
      while (bEnd < newKeys.size() && newKeys[bEnd].hash == hash) ++bEnd;
      if (aEnd - a == 1 && bEnd - b == 1 && Same(oldKeys[a].index, newKeys[b].index)) {
        unique.emplace_back(oldKeys[a].index, newKeys[b].index);
      }
      a = aEnd;
      b = bEnd;
    }
    std::vector<Keyed>().swap(oldKeys);
    std::vector<Keyed>().swap(newKeys);
    std::sort(unique.begin(), unique.end());
    KeepLongestOrderedRun(unique);
    GrowAnchors(unique);
  }

  void FindMoves() {
    if (!movedFrom_.empty()) return;
    movedFrom_.assign(static_cast<size_t>(newCount_), -1);
    oldMoved_.assign(static_cast<size_t>(oldCount_), false);
    std::vector<Entry> entries;
    int32_t gaps = 0;
    ForEachGap([&](int32_t, int32_t, int32_t, int32_t, int32_t) { ++gaps; });
    if (gaps < 2) return;
    ForEachGap(
        [&](int32_t gap, int32_t oldBegin, int32_t oldEnd, int32_t newBegin, int32_t newEnd) {
          for (int32_t i = oldBegin; i < oldEnd; ++i) {
            entries.push_back(Entry{RecordHash(OldRecord(i)), 0, i, gap});
          }
          for (int32_t j = newBegin; j < newEnd; ++j) {
            entries.push_back(Entry{RecordHash(NewRecord(j)), 1, j, gap});
          }
        });
    // By hash, then by the values themselves, so that equal hashes of unequal values (which
    // can be made on purpose) still fall into groups of one value each in n log n.
    std::sort(entries.begin(), entries.end(), [this](const Entry& a, const Entry& b) {
      if (a.hash != b.hash) return a.hash < b.hash;
      const int order = CompareValues(a, b);
      if (order != 0) return order < 0;
      if (a.side != b.side) return a.side < b.side;
      return a.index < b.index;
    });
    std::vector<Entry> olds, news;
    for (size_t group = 0; group < entries.size();) {
      size_t groupEnd = group;
      olds.clear();
      news.clear();
      while (groupEnd < entries.size() && entries[groupEnd].hash == entries[group].hash &&
             CompareValues(entries[groupEnd], entries[group]) == 0) {
        (entries[groupEnd].side == 0 ? olds : news).push_back(entries[groupEnd]);
        ++groupEnd;
      }
      MatchMoves(olds, news);
      group = groupEnd;
    }
  }

  // Reports in the new side's order: within a gap each new record is moved, paired with the
  // next old record left (changed when the values differ) or added; the old records left over
  // are removed after them.
  void Report(const std::function<void(const RecordChange&)>& visit) {
    ForEachGap([&](int32_t, int32_t oldBegin, int32_t oldEnd, int32_t newBegin, int32_t newEnd) {
      int32_t i = oldBegin;
      const auto nextOld = [&] {
        while (i < oldEnd && !oldMoved_.empty() && oldMoved_[static_cast<size_t>(i)]) ++i;
      };
      for (int32_t j = newBegin; j < newEnd; ++j) {
        if (!movedFrom_.empty() && movedFrom_[static_cast<size_t>(j)] >= 0) {
          visit(RecordChange{RecordChangeKind::kMoved, movedFrom_[static_cast<size_t>(j)], j});
          continue;
        }
        nextOld();
        if (i < oldEnd) {
          if (!Same(i, j)) visit(RecordChange{RecordChangeKind::kChanged, i, j});
          ++i;
        } else {
          visit(RecordChange{RecordChangeKind::kAdded, -1, j});
        }
      }
      for (nextOld(); i < oldEnd; ++i, nextOld()) {
        visit(RecordChange{RecordChangeKind::kRemoved, i, -1});
      }
    });
  }

 private:
  const QuadRecord& OldRecord(int32_t i) const {
    return old_.table.records[static_cast<size_t>(i)];
  }
  const QuadRecord& NewRecord(int32_t j) const {
    return new_.table.records[static_cast<size_t>(j)];
  }
  bool Same(int32_t i, int32_t j) const {
    return SameRecordValues(OldRecord(i), old_.numbering, NewRecord(j), new_.numbering);
  }
  // Orders the values of two gap records; 0 exactly when SameRecordValues holds.
  int CompareValues(const Entry& a, const Entry& b) const {
    const DiffSide& aSide = a.side == 0 ? old_ : new_;
    const DiffSide& bSide = b.side == 0 ? old_ : new_;
    ValueWords aKey, bKey;
    ValueKey(aSide.table.records[static_cast<size_t>(a.index)], aSide.numbering, numbersCompared_,
             aKey);
    ValueKey(bSide.table.records[static_cast<size_t>(b.index)], bSide.numbering, numbersCompared_,
             bKey);
    const int order = std::memcmp(aKey, bKey, sizeof aKey);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
  }

  // Keeps the longest subsequence of `pairs` (sorted by old index) whose new indices rise.
  static void KeepLongestOrderedRun(std::vector<std::pair<int32_t, int32_t>>& pairs) {
    std::vector<int32_t> tails;  // tails[k]: the pair ending the best run of length k + 1
    std::vector<int32_t> previous(pairs.size(), -1);
    for (size_t p = 0; p < pairs.size(); ++p) {
      const auto at = std::lower_bound(tails.begin(), tails.end(), pairs[p].second,
                                       [&pairs](int32_t tail, int32_t newIndex) {
                                         return pairs[static_cast<size_t>(tail)].second < newIndex;
                                       });
      if (at != tails.begin()) previous[p] = *(at - 1);
      if (at == tails.end()) {
        tails.push_back(static_cast<int32_t>(p));
      } else {
        *at = static_cast<int32_t>(p);
      }
    }
    std::vector<std::pair<int32_t, int32_t>> run(tails.size());
    for (int32_t p = tails.empty() ? -1 : tails.back(), k = static_cast<int32_t>(tails.size());
         p >= 0; p = previous[static_cast<size_t>(p)]) {
      run[static_cast<size_t>(--k)] = pairs[static_cast<size_t>(p)];
    }
    pairs.swap(run);
  }

  void Anchor(int32_t i, int32_t j) {
    newToOld_[static_cast<size_t>(j)] = i;
    oldAnchored_[static_cast<size_t>(i)] = true;
  }
  bool Free(int32_t i, int32_t j) const {
    return i >= 0 && j >= 0 && i < oldCount_ && j < newCount_ &&
           !oldAnchored_[static_cast<size_t>(i)] && newToOld_[static_cast<size_t>(j)] < 0;
  }

  // Each anchor takes the equal records after it, then before it, while both are free.
  void GrowAnchors(const std::vector<std::pair<int32_t, int32_t>>& anchors) {
    for (const auto& [i, j] : anchors) Anchor(i, j);
    for (const auto& [i, j] : anchors) {
      for (int32_t k = 1; Free(i + k, j + k) && Same(i + k, j + k); ++k) Anchor(i + k, j + k);
    }
    for (auto at = anchors.rbegin(); at != anchors.rend(); ++at) {
      const auto [i, j] = *at;
      for (int32_t k = 1; Free(i - k, j - k) && Same(i - k, j - k); ++k) Anchor(i - k, j - k);
    }
  }

  // Calls visit(gap, oldBegin, oldEnd, newBegin, newEnd) for every run of unanchored records
  // between two anchored ones (either range may be empty, not both), in order.
  template <class Visit>
  void ForEachGap(Visit visit) const {
    int32_t i = 0, j = 0, gap = 0;
    while (i < oldCount_ || j < newCount_) {
      if (j < newCount_ && newToOld_[static_cast<size_t>(j)] == i) {
        ++i;
        ++j;
        continue;
      }
      int32_t nextJ = j;
      while (nextJ < newCount_ && newToOld_[static_cast<size_t>(nextJ)] < 0) ++nextJ;
      const int32_t nextI = nextJ < newCount_ ? newToOld_[static_cast<size_t>(nextJ)] : oldCount_;
      visit(gap++, i, nextI, j, nextJ);
      i = nextI;
      j = nextJ;
    }
  }

  // Old and new records of one value, each in file order (so in gap order): each old record
  // is moved to the first new one left that lies in another gap.
  void MatchMoves(const std::vector<Entry>& olds, const std::vector<Entry>& news) {
    if (olds.empty() || news.empty()) return;
    const size_t count = news.size();
    // next[k]: k while news[k] is free, else a later candidate (path halving).
    std::vector<size_t> next(count + 1), gapEnd(count);
    for (size_t k = 0; k <= count; ++k) next[k] = k;
    for (size_t k = count; k-- > 0;) {
      gapEnd[k] = k + 1 < count && news[k + 1].gap == news[k].gap ? gapEnd[k + 1] : k + 1;
    }
    const auto find = [&next](size_t k) {
      while (next[k] != k) {
        next[k] = next[next[k]];
        k = next[k];
      }
      return k;
    };
    for (const Entry& oldEntry : olds) {
      size_t k = find(0);
      if (k < count && news[k].gap == oldEntry.gap) k = find(gapEnd[k]);
      if (k >= count) continue;
      movedFrom_[static_cast<size_t>(news[k].index)] = oldEntry.index;
      oldMoved_[static_cast<size_t>(oldEntry.index)] = true;
      next[k] = k + 1;
    }
  }

  const DiffSide& old_;
  const DiffSide& new_;
  const bool numbersCompared_ = old_.numbering.read && new_.numbering.read;
  const int32_t oldCount_;
  const int32_t newCount_;
  std::vector<int32_t> newToOld_;  // the anchored old index, or -1
  std::vector<bool> oldAnchored_;
  std::vector<int32_t> movedFrom_;  // the old index a new record moved from, or -1
  std::vector<bool> oldMoved_;
};

void AppendChange(std::string& text, const std::string& field, const std::string& from,
                  const std::string& to) {
  if (!text.empty()) text += "; ";
  text += field + " " + from + kArrow + to;
}

}  // namespace

bool SameRecordValues(const QuadRecord& a, const TextureNumbering& aNumbering, const QuadRecord& b,
                      const TextureNumbering& bNumbering) {
  // Field by field with an early way out: this runs for every anchor candidate and neighbour.
  if (a.textureIndex != b.textureIndex || a.blend != b.blend ||
      a.counterClockwise != b.counterClockwise) {
    return false;
  }
  if (aNumbering.read && bNumbering.read &&
      TextureNumber(a, aNumbering) != TextureNumber(b, bNumbering)) {
    return false;
  }
  for (int corner = 0; corner < kCorners; ++corner) {
    float aValues[kCornerTokens], bValues[kCornerTokens];
    FileValues(a, corner, aValues);
    FileValues(b, corner, bValues);
    for (int k = 0; k < kCornerTokens; ++k) {
      if (CanonicalBits(aValues[k]) != CanonicalBits(bValues[k])) return false;
    }
  }
  return true;
}

std::string ShortestNumber(float value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string DescribeRecordDifference(const QuadRecord& a, const TextureNumbering& aNumbering,
                                     const QuadRecord& b, const TextureNumbering& bNumbering) {
  std::string text;
  if (a.textureIndex != b.textureIndex) {
    AppendChange(text, "slot", std::to_string(a.textureIndex), std::to_string(b.textureIndex));
  }
  if (aNumbering.read && bNumbering.read &&
      TextureNumber(a, aNumbering) != TextureNumber(b, bNumbering)) {
    AppendChange(text, "texture number",
                 std::to_string(static_cast<int32_t>(TextureNumber(a, aNumbering))),
                 std::to_string(static_cast<int32_t>(TextureNumber(b, bNumbering))));
  }
  if (a.blend != b.blend) {
    AppendChange(text, "blend", std::to_string(a.blend), std::to_string(b.blend));
  }
  if (a.counterClockwise != b.counterClockwise) {
    AppendChange(text, "winding", a.counterClockwise ? kCounterClockwiseWord : kClockwiseWord,
                 b.counterClockwise ? kCounterClockwiseWord : kClockwiseWord);
  }
  static const char* const kValueNames[kCornerTokens] = {"u", "v", "x", "y", "z"};
  for (int corner = 0; corner < kCorners; ++corner) {
    float aValues[kCornerTokens], bValues[kCornerTokens];
    FileValues(a, corner, aValues);
    FileValues(b, corner, bValues);
    std::string moved;
    for (int k = 0; k < kCornerTokens; ++k) {
      if (CanonicalBits(aValues[k]) == CanonicalBits(bValues[k])) continue;
      if (!moved.empty()) moved += ", ";
      moved += std::string(kValueNames[k]) + " " + ShortestNumber(aValues[k]) + kArrow +
               ShortestNumber(bValues[k]);
    }
    if (moved.empty()) continue;
    if (!text.empty()) text += "; ";
    text += "corner " + std::to_string(corner + 1) + ": " + moved;
  }
  return text;
}

void AlignRecords(const DiffSide& oldSide, const DiffSide& newSide, int threads,
                  const std::function<void(const RecordChange&)>& visit) {
  Aligner aligner(oldSide, newSide);
  aligner.FindAnchors(threads);
  aligner.FindMoves();
  aligner.Report(visit);
}
