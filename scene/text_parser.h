// Line tokenizer: splits one line of a quad-list file into tokens and hands them out by index.
// There is one token list for the whole program: every ParseLine replaces the previous line's
// tokens, and every GetToken reads the line parsed last. Not thread-safe by design.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

constexpr int32_t kAllTokens = std::numeric_limits<int32_t>::max();

// A byte skipped between tokens and counted as blank: a code from 1 to 32 (0 ends the text).
inline bool IsControlOrSpace(char c) {
  const unsigned char code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

// A byte that ends a plain (unquoted) token: a code from 0 to 32 or a comma. Spaces count as
// commas, since every space of a line becomes a comma before it is split.
inline bool EndsPlainToken(char c) {
  return static_cast<unsigned char>(c) <= 32 || c == ',';
}

// Makes the tokens of `line` the current tokens, the first `maxTokens` of them (the rest of
// the line is not split). Tokens are separated by runs of commas and characters with codes 1
// to 32; a double-quoted token keeps its content (spaces turned to commas) as one token; a
// character with code 0 ends the line's text; empty tokens are dropped.
void ParseLine(std::string_view line, int32_t maxTokens = kAllTokens);

// The same for a line too long to hold, fed in pieces between BeginLinePieces and
// EndLinePieces. Memory stays bounded: a token longer than kHeldTokenBytes keeps only its
// first kHeldTokenBytes bytes as text, while its number conversions still see all of it.
constexpr size_t kHeldTokenBytes = 4096;
void BeginLinePieces(int32_t maxTokens);
void ParseLinePiece(std::string_view piece);
void EndLinePieces();

// Copies token `index` into `text`; leaves `text` untouched when there is no such token.
// Before any ParseLine it shows "text parser not initialized."; an index out of range writes
// the trace line "indexed failed at %d, text is: %s" instead. Neither raises.
void GetToken(int32_t index, std::string& text);

// Token `index` as an int32 or a float ('.' as the decimal separator); a missing token writes
// the trace line and converts the empty text. Throw SceneError "'%s' is not a valid integer
// value" / "'%s' is not a valid floating point value" when the text does not convert.
int32_t GetIntToken(int32_t index);
float GetFloatToken(int32_t index);

// Number of tokens of the line parsed last (0 before any ParseLine).
int32_t TokenCount();

// Case-insensitive (A to Z only) replace-all; an empty pattern replaces nothing.
std::string ReplaceAllNoCase(std::string_view source, std::string_view pattern,
                             std::string_view replacement);

// The tokens joined as comma text, each as messages quote file content (at most 100 bytes,
// then "..."); a token holding a character with code 0 to 32, a '"' or a comma is written in
// double quotes with inner quotes doubled.
std::string TokenCommaText();

// Where the tokenizer's two outputs go. Both default to stderr; the viewer replaces the
// message sink with its modal box. Passing nullptr restores the default.
using ParserTextSink = void (*)(const std::string& text);
void SetParserMessageSink(ParserTextSink sink);
void SetParserTraceSink(ParserTextSink sink);

// Shows `text` through the message sink (a modal box with an empty caption in the viewer).
void ShowParserMessage(const std::string& text);
