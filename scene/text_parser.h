// Line tokenizer: splits one line of a quad-list file into tokens and hands them out by index.
// There is one token list for the whole program: every ParseLine replaces the previous line's
// tokens, and every GetToken reads the line parsed last. Not thread-safe by design.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Makes the tokens of `line` the current tokens. Tokens are separated by runs of commas and
// characters with codes 1 to 32; a double-quoted token keeps its content (spaces turned to
// commas) as one token; a character with code 0 ends the line; empty tokens are dropped.
void ParseLine(std::string_view line);

// Copies token `index` into `text`; leaves `text` untouched when there is no such token.
// Before any ParseLine it shows "text parser not initialized."; an index out of range writes
// the trace line "indexed failed at %d, text is: %s" instead. Neither raises.
void GetToken(int32_t index, std::string& text);

// Token `index` as an int32; a missing token converts the empty text. Throws SceneError
// "'%s' is not a valid integer value" when the text does not convert.
int32_t GetIntToken(int32_t index);

// Number of tokens of the line parsed last (0 before any ParseLine).
int32_t TokenCount();

// Token `index` without copying, or nullptr when there is no such token. The view stays
// valid until the next ParseLine. For the quad-list reader's hot loop.
const std::string_view* PeekToken(int32_t index);

// The TokenCount() tokens of the line parsed last, without copying. Valid until the next
// ParseLine.
const std::string_view* TokenData();

// Case-insensitive (A to Z only) replace-all; an empty pattern replaces nothing.
std::string ReplaceAllNoCase(std::string_view source, std::string_view pattern,
                             std::string_view replacement);

// The tokens joined as comma text: a token holding a character with code 0 to 32, a '"' or a
// comma is written in double quotes with inner quotes doubled.
std::string TokenCommaText();

// Where the tokenizer's two outputs go. Both default to stderr; the viewer replaces the
// message sink with its modal box. Passing nullptr restores the default.
using ParserTextSink = void (*)(const std::string& text);
void SetParserMessageSink(ParserTextSink sink);
void SetParserTraceSink(ParserTextSink sink);

// Shows `text` through the message sink (a modal box with an empty caption in the viewer).
void ShowParserMessage(const std::string& text);

// Forgets the token list, as if no line had been parsed yet. For tests.
void ResetTextParser();
