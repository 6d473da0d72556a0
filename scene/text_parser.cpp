// The line tokenizer and its single, program-wide token list. One splitting state machine
// serves whole lines and lines fed in pieces; the plain line (no quote, no NUL) also has a
// 16-byte-at-a-time route. Refilling the list makes no heap allocation once its buffers have
// grown to a line's size.
#include "scene/text_parser.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "scene/numbers.h"
#include "scene/record_format.h"
#include "scene/scene_error.h"

namespace {

// Bytes of separator padding after the copied line, so 16-byte scans never leave the buffer.
constexpr size_t kScanPadding = 16;

struct Token {
  size_t offset = 0;  // into the text the token list refers to (see below)
  size_t length = 0;
  int32_t number = -1;  // index into longTokenNumbers when the text was cut, else -1
};

enum class SplitState { kBetween, kPlain, kQuoted, kQuotedQuote, kEnded };

bool tokenListExists = false;
// The plain-line route keeps its tokens as spans of plainLine, the splitter as spans of
// splitText; tokensInPlainLine says which.
std::vector<char> plainLine;
std::string splitText;
bool tokensInPlainLine = false;
std::vector<Token> tokenList;
std::vector<std::unique_ptr<NumberText>> longTokenNumbers;
size_t longTokensUsed = 0;

// The splitter's state between pieces.
SplitState splitState = SplitState::kEnded;
size_t tokenLimit = 0;
size_t heldBytesLimit = 0;  // text bytes kept per token
Token currentToken;
bool quoteHeld = false;  // a quoted token's last character is held back: an unclosed quote
char heldChar = 0;       // drops it

void PrintToStderr(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
}

ParserTextSink messageSink = PrintToStderr;
ParserTextSink traceSink = PrintToStderr;

std::string_view TokenText(const Token& token) {
  const char* base = tokensInPlainLine ? plainLine.data() : splitText.data();
  return std::string_view(base + token.offset, token.length);
}

void StartToken() {
  currentToken = Token{splitText.size(), 0, -1};
}

void AppendToToken(const char* bytes, size_t count) {
  const size_t room = heldBytesLimit - currentToken.length;
  const size_t kept = count < room ? count : room;
  splitText.append(bytes, kept);
  currentToken.length += kept;
  if (kept == count && currentToken.number < 0) return;
  // The text is cut from here on; the token's numbers are read from all of it.
  if (currentToken.number < 0) {
    if (longTokensUsed == longTokenNumbers.size()) longTokenNumbers.emplace_back();
    longTokenNumbers[longTokensUsed] = std::make_unique<NumberText>(kDecimalSeparator);
    longTokenNumbers[longTokensUsed]->Append(TokenText(currentToken));
    currentToken.number = static_cast<int32_t>(longTokensUsed++);
  }
  longTokenNumbers[static_cast<size_t>(currentToken.number)]->Append(
      std::string_view(bytes + kept, count - kept));
}

void EndToken() {
  if (currentToken.length > 0) {  // empty tokens are dropped
    tokenList.push_back(currentToken);
    if (tokenList.size() >= tokenLimit) {
      splitState = SplitState::kEnded;  // the rest of the line is not split
      return;
    }
  }
  splitState = SplitState::kBetween;
}

void FlushHeldChar() {
  if (!quoteHeld) return;
  AppendToToken(&heldChar, 1);
  quoteHeld = false;
}

// Splits `text` (spaces already turned into commas) from the state left by the previous
// piece. A quoted token runs to the first quote that is not doubled; one that is never closed
// takes the rest of the text except its last character, which is why that character is held.
void SplitPiece(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    switch (splitState) {
      case SplitState::kEnded:
        return;
      case SplitState::kBetween:
        while (p < end && (IsControlOrSpace(*p) || *p == ',')) ++p;
        if (p == end) return;
        if (*p == '\0') {
          splitState = SplitState::kEnded;
          return;
        }
        StartToken();
        if (*p == '"') {
          ++p;
          quoteHeld = false;
          splitState = SplitState::kQuoted;
        } else {
          splitState = SplitState::kPlain;
        }
        break;
      case SplitState::kPlain: {
        const char* run = p;
        while (p < end && !EndsPlainToken(*p)) ++p;
        AppendToToken(run, static_cast<size_t>(p - run));
        if (p == end) return;
        const bool nul = *p == '\0';
        EndToken();
        if (nul) splitState = SplitState::kEnded;
        break;
      }
      case SplitState::kQuoted: {
        const char c = *p++;
        if (c == '\0') {  // the text ends: an unclosed quote loses its last character
          quoteHeld = false;
          EndToken();
          splitState = SplitState::kEnded;
        } else if (c == '"') {
          splitState = SplitState::kQuotedQuote;
        } else {
          FlushHeldChar();
          heldChar = c;
          quoteHeld = true;
        }
        break;
      }
      case SplitState::kQuotedQuote:
        FlushHeldChar();
        if (*p == '"') {  // a doubled quote stands for one
          ++p;
          const char quote = '"';
          AppendToToken(&quote, 1);
          splitState = SplitState::kQuoted;
        } else {  // the previous quote closed the token; this character starts what follows
          EndToken();
        }
        break;
    }
  }
}

void FinishSplit() {
  switch (splitState) {
    case SplitState::kPlain:
      EndToken();
      break;
    case SplitState::kQuoted:
      quoteHeld = false;  // never closed
      EndToken();
      break;
    case SplitState::kQuotedQuote:  // the last character closed the quote
      FlushHeldChar();
      EndToken();
      break;
    default:
      break;
  }
  splitState = SplitState::kEnded;
}

void ResetList(int32_t maxTokens, size_t heldBytes) {
  tokenListExists = true;
  tokenList.clear();
  splitText.clear();
  longTokensUsed = 0;
  tokenLimit = maxTokens > 0 ? static_cast<size_t>(maxTokens) : 0;
  heldBytesLimit = heldBytes;
  tokensInPlainLine = false;
  splitState = tokenLimit > 0 ? SplitState::kBetween : SplitState::kEnded;
}

#if defined(__SSE2__)
// The common line: no quote and no NUL. Tokens are then exactly the maximal runs of bytes
// that are neither a comma nor a code from 1 to 32, found 16 bytes at a time. Returns false,
// having added nothing, when the line needs the splitter.
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
    if (_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(chunk, quote), _mm_cmpeq_epi8(chunk, zero))) != 0) {
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
      tokenList.push_back(Token{tokenStart, base + from - tokenStart, -1});
      if (tokenList.size() >= tokenLimit) return true;
      inToken = false;
    }
  }
  return true;
}
#endif

const Token* FindToken(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= tokenList.size()) return nullptr;
  return &tokenList[static_cast<size_t>(index)];
}

// The token for a conversion, or nullptr after the lookup failure GetToken reports.
const Token* TokenForConversion(int32_t index) {
  std::string unused;
  const Token* token = FindToken(index);
  if (token == nullptr) GetToken(index, unused);
  return token;
}

}  // namespace

void ParseLine(std::string_view line, int32_t maxTokens) {
  ResetList(maxTokens, line.size());
  if (tokenLimit == 0) return;
#if defined(__SSE2__)
  const size_t n = line.size();
  if (plainLine.size() < n + kScanPadding) plainLine.resize(n + kScanPadding);
  if (n > 0) std::memcpy(plainLine.data(), line.data(), n);  // an empty view may hold no pointer
  std::memset(plainLine.data() + n, ',', kScanPadding);
  if (SplitPlainLine(plainLine.data(), n)) {
    tokensInPlainLine = true;
    splitState = SplitState::kEnded;
    return;
  }
  tokenList.clear();
#endif
  SplitPiece(ReplaceAllNoCase(line, " ", ","));
  FinishSplit();
}

void BeginLinePieces(int32_t maxTokens) {
  ResetList(maxTokens, kHeldTokenBytes);
}

void ParseLinePiece(std::string_view piece) {
  if (splitState == SplitState::kEnded) return;
  SplitPiece(ReplaceAllNoCase(piece, " ", ","));
}

void EndLinePieces() {
  FinishSplit();
}

void GetToken(int32_t index, std::string& text) {
  if (!tokenListExists) {
    ShowParserMessage("text parser not initialized.");
    return;
  }
  if (const Token* token = FindToken(index)) {
    text.assign(TokenText(*token));
    return;
  }
  // The failed lookup never reaches the caller: it leaves a trace line instead.
  traceSink("indexed failed at " + std::to_string(index) + ", text is: " + TokenCommaText());
}

int32_t GetIntToken(int32_t index) {
  const Token* token = TokenForConversion(index);
  if (token == nullptr || token->number < 0) {
    return StrToInt(token != nullptr ? TokenText(*token) : std::string_view());
  }
  int32_t value = 0;
  if (!longTokenNumbers[static_cast<size_t>(token->number)]->ToInt32(value)) {
    throw SceneError(NotAnIntegerMessage(TokenText(*token)));
  }
  return value;
}

float GetFloatToken(int32_t index) {
  const Token* token = TokenForConversion(index);
  if (token == nullptr || token->number < 0) {
    return StrToFloat(token != nullptr ? TokenText(*token) : std::string_view(), kDecimalSeparator);
  }
  long double value = 0;
  if (!longTokenNumbers[static_cast<size_t>(token->number)]->ToExtended(value)) {
    throw SceneError(NotAFloatMessage(TokenText(*token)));
  }
  return static_cast<float>(value);
}

int32_t TokenCount() {
  return static_cast<int32_t>(tokenList.size());
}

std::string ReplaceAllNoCase(std::string_view source, std::string_view pattern,
                             std::string_view replacement) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  if (pattern.empty()) return std::string(source);
  std::string result;
  result.reserve(source.size());
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
    const std::string shown = QuoteContent(TokenText(tokenList[i]));
    bool needsQuotes = false;
    for (char c : shown) {
      if (static_cast<unsigned char>(c) <= 32 || c == '"' || c == ',') needsQuotes = true;
    }
    if (!needsQuotes) {
      text += shown;
      continue;
    }
    text += '"';
    for (char c : shown) {
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
