// The line tokenizer and its single, program-wide token list. The list holds views into the
// tokenizer's own copy of the line, so the tokens stay valid until the next ParseLine and
// refilling the list makes no heap allocation once the buffers have grown to a line's size.
#include "scene/text_parser.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "scene/numbers.h"

namespace {

bool tokenListExists = false;
std::string parsedLine;                   // the tokenizer's copy of the line parsed last
std::vector<std::string_view> tokenList;  // views into parsedLine

void PrintToStderr(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

ParserTextSink messageSink = PrintToStderr;
ParserTextSink traceSink = PrintToStderr;

bool IsControlOrSpace(char c) {
  const unsigned char code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

// Spaces count as commas: the line's spaces are all turned into commas before splitting.
bool EndsPlainToken(char c) { return static_cast<unsigned char>(c) <= 32 || c == ','; }

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

}  // namespace

void ParseLine(std::string_view line) {
  tokenListExists = true;
  tokenList.clear();
  // A character with code 0 ends the text.
  const void* nul = std::memchr(line.data(), '\0', line.size());
  if (nul != nullptr) line = line.substr(0, static_cast<const char*>(nul) - line.data());
  parsedLine.assign(line.data(), line.size());
  char* text = parsedLine.data();
  const size_t n = parsedLine.size();

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
      if (end > begin) tokenList.emplace_back(text + begin, end - begin);
      pos = closed ? close + 1 : n;
    } else {
      const size_t begin = pos;
      while (pos < n && !EndsPlainToken(text[pos])) ++pos;
      if (pos > begin) tokenList.emplace_back(text + begin, pos - begin);
    }
    while (pos < n && IsControlOrSpace(text[pos])) ++pos;
    if (pos < n && text[pos] == ',') {
      ++pos;
      while (pos < n && IsControlOrSpace(text[pos])) ++pos;
    }
  }
}

void GetToken(int32_t index, std::string& text) {
  if (!tokenListExists) {
    ShowParserMessage("text parser not initialized.");
    return;
  }
  if (index >= 0 && static_cast<size_t>(index) < tokenList.size()) {
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

int32_t TokenCount() { return static_cast<int32_t>(tokenList.size()); }

const std::string_view* PeekToken(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= tokenList.size()) return nullptr;
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
  for (size_t i = 0; i < tokenList.size(); ++i) {
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

void SetParserTraceSink(ParserTextSink sink) { traceSink = sink != nullptr ? sink : PrintToStderr; }

void ShowParserMessage(const std::string& text) { messageSink(text); }

void ResetTextParser() {
  tokenListExists = false;
  tokenList.clear();
  parsedLine.clear();
}
