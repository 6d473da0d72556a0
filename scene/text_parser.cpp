// The line tokenizer and its single, program-wide token list. The list holds views into the
// tokenizer's own copy of the line, so the tokens stay valid until the next ParseLine and
// refilling the list makes no heap allocation once the buffers have grown to a line's size.
#include "scene/text_parser.h"

#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "scene/numbers.h"

namespace {

// Bytes of separator padding after the copied line, so 16-byte scans never leave the buffer.
constexpr size_t kScanPadding = 16;

bool tokenListExists = false;
std::vector<char> parsedLine;  // the tokenizer's copy of the line parsed last
// Views into parsedLine. Holds room for the most tokens a line of its length can have, so
// the split writes tokens without growing it; tokenCount says how many are current.
std::vector<std::string_view> tokenList;
size_t tokenCount = 0;

void PrintToStderr(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
}

ParserTextSink messageSink = PrintToStderr;
ParserTextSink traceSink = PrintToStderr;

bool IsControlOrSpace(char c) {
  const unsigned char code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

// Spaces count as commas: the line's spaces are all turned into commas before splitting.
bool EndsPlainToken(char c) {
  return static_cast<unsigned char>(c) <= 32 || c == ',';
}

// Unescapes the quoted text [begin, end) in place ("" stands for one quote, spaces become
// commas) and returns its new end. Writing never overtakes reading.
size_t UnquoteInPlace(char* text, size_t begin, size_t end) {
  size_t out = begin;
  for (size_t i = begin; i < end; ++i) {
    char c = text[i];
    if (c == '"' && i + 1 < end && text[i + 1] == '"') ++i;
    if (c == ' ') c = ',';
    text[out++] = c;
  }
  return out;
}

#if defined(__SSE2__)
// The common line: no quote and no NUL. Tokens are then exactly the maximal runs of bytes
// that are neither a comma nor a code from 1 to 32, found 16 bytes at a time. Returns false,
// having added nothing, when the line needs the general algorithm.
bool SplitPlainLine(const char* text, size_t n) {
  const __m128i space = _mm_set1_epi8(32);
  const __m128i comma = _mm_set1_epi8(',');
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i zero = _mm_setzero_si128();
  size_t tokenStart = 0;
  bool inToken = false;
  // The padding after the line holds commas, so the last token ends inside the scan.
  for (size_t base = 0; base <= n; base += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + base));
    const uint32_t special = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(chunk, quote), _mm_cmpeq_epi8(chunk, zero))));
    if (special != 0) {
      tokenCount = 0;
      return false;
    }
    const __m128i controlOrSpace = _mm_cmpeq_epi8(_mm_min_epu8(chunk, space), chunk);
    const uint32_t separators = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_or_si128(controlOrSpace, _mm_cmpeq_epi8(chunk, comma))));
    const uint32_t tokenBytes = ~separators & 0xFFFFu;
    uint32_t from = 0;  // bit position where the search goes on
    for (;;) {
      if (!inToken) {
        const uint32_t starts = tokenBytes & (0xFFFFu << from);
        if (starts == 0) break;
        from = static_cast<uint32_t>(__builtin_ctz(starts));
        tokenStart = base + from;
        inToken = true;
      }
      const uint32_t ends = separators & (0xFFFFu << from);
      if (ends == 0) break;
      from = static_cast<uint32_t>(__builtin_ctz(ends));
      tokenList[tokenCount++] = std::string_view(text + tokenStart, base + from - tokenStart);
      inToken = false;
    }
  }
  return true;
}
#endif

// The general algorithm: quoted tokens, and a NUL that ends the text.
void SplitLine(char* text, size_t n) {
  const void* nul = std::memchr(text, '\0', n);
  if (nul != nullptr) n = static_cast<size_t>(static_cast<const char*>(nul) - text);
  size_t pos = 0;
  while (pos < n && IsControlOrSpace(text[pos])) ++pos;
  while (pos < n) {
    if (text[pos] == '"') {
      const size_t begin = ++pos;
      // Find the closing quote: the first one that is not doubled.
      size_t close = begin;
      bool closed = false;
      while (close < n) {
        if (text[close] == '"') {
          if (close + 1 < n && text[close + 1] == '"') {
            close += 2;
            continue;
          }
          closed = true;
          break;
        }
        ++close;
      }
      // A quote that is never closed takes the rest of the text except its last character.
      const size_t rawEnd = closed ? close : (n > begin ? n - 1 : begin);
      const size_t end = UnquoteInPlace(text, begin, rawEnd);
      if (end > begin) tokenList[tokenCount++] = std::string_view(text + begin, end - begin);
      pos = closed ? close + 1 : n;
    } else {
      const size_t begin = pos;
      while (pos < n && !EndsPlainToken(text[pos])) ++pos;
      if (pos > begin) tokenList[tokenCount++] = std::string_view(text + begin, pos - begin);
    }
    while (pos < n && IsControlOrSpace(text[pos])) ++pos;
    if (pos < n && text[pos] == ',') {
      ++pos;
      while (pos < n && IsControlOrSpace(text[pos])) ++pos;
    }
  }
}

}  // namespace

void ParseLine(std::string_view line) {
  tokenListExists = true;
  tokenCount = 0;
  const size_t n = line.size();
  if (parsedLine.size() < n + kScanPadding) {
    parsedLine.resize(n + kScanPadding);
    tokenList.resize(n / 2 + 1);  // tokens need a separator between them
  }
  char* text = parsedLine.data();
  if (n > 0) std::memcpy(text, line.data(), n);  // an empty view may hold no pointer
  std::memset(text + n, ',', kScanPadding);
#if defined(__SSE2__)
  if (SplitPlainLine(text, n)) return;
#endif
  SplitLine(text, n);
}

void GetToken(int32_t index, std::string& text) {
  if (!tokenListExists) {
    ShowParserMessage("text parser not initialized.");
    return;
  }
  if (index >= 0 && static_cast<size_t>(index) < tokenCount) {
    text.assign(tokenList[static_cast<size_t>(index)]);
    return;
  }
  // The failed lookup never reaches the caller: it leaves a trace line instead.
  traceSink("indexed failed at " + std::to_string(index) + ", text is: " + TokenCommaText());
}

int32_t GetIntToken(int32_t index) {
  std::string text;
  GetToken(index, text);
  return StrToInt(text);
}

int32_t TokenCount() {
  return static_cast<int32_t>(tokenCount);
}

const std::string_view* TokenData() {
  return tokenList.data();
}

const std::string_view* PeekToken(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= tokenCount) return nullptr;
  return &tokenList[static_cast<size_t>(index)];
}

std::string ReplaceAllNoCase(std::string_view source, std::string_view pattern,
                             std::string_view replacement) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  std::string result;
  if (pattern.empty()) return std::string(source);
  size_t start = 0;
  while (start + pattern.size() <= source.size()) {
    size_t match = std::string_view::npos;
    for (size_t i = start; i + pattern.size() <= source.size(); ++i) {
      size_t k = 0;
      while (k < pattern.size() && lower(source[i + k]) == lower(pattern[k])) ++k;
      if (k == pattern.size()) {
        match = i;
        break;
      }
    }
    if (match == std::string_view::npos) break;
    result.append(source.substr(start, match - start));
    result.append(replacement);
    start = match + pattern.size();
  }
  result.append(source.substr(start));
  return result;
}

std::string TokenCommaText() {
  std::string text;
  for (size_t i = 0; i < tokenCount; ++i) {
    if (i > 0) text += ',';
    const std::string_view token = tokenList[i];
    bool needsQuotes = false;
    for (char c : token) {
      if (static_cast<unsigned char>(c) <= 32 || c == '"' || c == ',') needsQuotes = true;
    }
    if (!needsQuotes) {
      text.append(token);
      continue;
    }
    text += '"';
    for (char c : token) {
      if (c == '"') text += '"';
      text += c;
    }
    text += '"';
  }
  return text;
}

void SetParserMessageSink(ParserTextSink sink) {
  messageSink = sink != nullptr ? sink : PrintToStderr;
}

void SetParserTraceSink(ParserTextSink sink) {
  traceSink = sink != nullptr ? sink : PrintToStderr;
}

void ShowParserMessage(const std::string& text) {
  messageSink(text);
}

void ResetTextParser() {
  tokenListExists = false;
  tokenCount = 0;
}
