// Tokenizer: splitting rules, quoted tokens, lookups that fail without raising, and lines fed
// in pieces (long lines) giving exactly the tokens of the whole line in bounded memory.
#include "scene/text_parser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "scene/scene_error.h"

namespace {

std::vector<std::string> messages;
std::vector<std::string> traces;
void CollectMessage(const std::string& text) {
  messages.push_back(text);
}
void CollectTrace(const std::string& text) {
  traces.push_back(text);
}

class TextParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    messages.clear();
    traces.clear();
    SetParserMessageSink(CollectMessage);
    SetParserTraceSink(CollectTrace);
  }
  void TearDown() override {
    SetParserMessageSink(nullptr);
    SetParserTraceSink(nullptr);
  }
};

std::vector<std::string> Tokens(const std::string& line) {
  ParseLine(line);
  std::vector<std::string> tokens;
  for (int32_t i = 0; i < TokenCount(); ++i) {
    std::string text;
    GetToken(i, text);
    tokens.push_back(text);
  }
  return tokens;
}

using Strings = std::vector<std::string>;

TEST_F(TextParserTest, SeparatorsAreCommasSpacesAndControlCharacters) {
  EXPECT_EQ(Tokens("12, 3"), (Strings{"12", "3"}));
  EXPECT_EQ(Tokens("0.5 0.25,1,  -2.0,7"), (Strings{"0.5", "0.25", "1", "-2.0", "7"}));
  EXPECT_EQ(Tokens("a\tb\t\tc"), (Strings{"a", "b", "c"}));
  EXPECT_EQ(Tokens("a\nb\x01"
                   "c"),
            (Strings{"a", "b", "c"}));
  EXPECT_EQ(Tokens(",,a,,,b,,"), (Strings{"a", "b"}));
  EXPECT_EQ(Tokens("  , ,\t"), Strings{});
  EXPECT_EQ(Tokens(""), Strings{});
  ParseLine(std::string_view());
  EXPECT_EQ(TokenCount(), 0);
  EXPECT_EQ(Tokens("\xe9t\xe9 caf\xe9"), (Strings{"\xe9t\xe9", "caf\xe9"}));
}

TEST_F(TextParserTest, QuotedTokensKeepTheirContentWithSpacesAsCommas) {
  EXPECT_EQ(Tokens("\"a b\""), Strings{"a,b"});
  EXPECT_EQ(Tokens("x \"say \"\"hi\"\"\" y"), (Strings{"x", "say,\"hi\"", "y"}));
  EXPECT_EQ(Tokens("\"a\"b"), (Strings{"a", "b"}));
  EXPECT_EQ(Tokens("ab\"c\""), Strings{"ab\"c\""});
  EXPECT_EQ(Tokens("\"\" 1"), Strings{"1"});
}

TEST_F(TextParserTest, UnclosedQuoteDropsTheLastCharacter) {
  EXPECT_EQ(Tokens("\"abc"), Strings{"ab"});
  EXPECT_EQ(Tokens("1 \"x y z"), (Strings{"1", "x,y,"}));
  EXPECT_EQ(Tokens("\"a"), Strings{});
}

TEST_F(TextParserTest, NulCharacterEndsTheLine) {
  EXPECT_EQ(Tokens(std::string("1 2\0 3", 6)), (Strings{"1", "2"}));
}

TEST_F(TextParserTest, EachLineReplacesThePreviousTokens) {
  ParseLine("a b c");
  ParseLine("d");
  EXPECT_EQ(TokenCount(), 1);
  std::string text = "kept";
  GetToken(1, text);
  EXPECT_EQ(text, "kept");
}

// A fresh process, in which no line has been parsed yet.
TEST(TextParserDeathTest, GetTokenBeforeAnyLineShowsTheMessageAndChangesNothing) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::string text = "unchanged";
        GetToken(0, text);
        std::fprintf(stderr, "[%s]", text.c_str());
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "^text parser not initialized.\n\\[unchanged\\]$");
}

TEST_F(TextParserTest, LookupOutOfRangeWritesTheTraceLineOnly) {
  ParseLine("");
  std::string text = "unchanged";
  GetToken(0, text);
  EXPECT_EQ(text, "unchanged");
  ParseLine("1 \"a b\" q\"x");
  GetToken(-1, text);
  GetToken(3, text);
  EXPECT_EQ(text, "unchanged");
  EXPECT_EQ(traces, (Strings{"indexed failed at 0, text is: ",
                             "indexed failed at -1, text is: 1,\"a,b\",\"q\"\"x\"",
                             "indexed failed at 3, text is: 1,\"a,b\",\"q\"\"x\""}));
  EXPECT_TRUE(messages.empty());
}

TEST_F(TextParserTest, IntTokenPastTheEndFailsOnTheEmptyText) {
  ParseLine("7 $1F");
  EXPECT_EQ(GetIntToken(0), 7);
  EXPECT_EQ(GetIntToken(1), 31);
  try {
    GetIntToken(2);
    FAIL() << "no error";
  } catch (const SceneError& error) {
    EXPECT_STREQ(error.what(), "'' is not a valid integer value");
  }
  ParseLine("x");
  try {
    GetIntToken(0);
    FAIL() << "no error";
  } catch (const SceneError& error) {
    EXPECT_STREQ(error.what(), "'x' is not a valid integer value");
  }
}

TEST_F(TextParserTest, MaxTokensKeepsTheFirstTokensOnly) {
  ParseLine("1 2 \"3 4\" 5", 3);
  EXPECT_EQ(TokenCount(), 3);
  ParseLine("\"a\" b c", 2);
  EXPECT_EQ(TokenCount(), 2);
  ParseLine("a b", 0);
  EXPECT_EQ(TokenCount(), 0);
}

// Feeding a line in pieces, cut anywhere, gives exactly the tokens of the whole line.
TEST_F(TextParserTest, PiecesCutAnywhereGiveTheTokensOfTheWholeLine) {
  const std::vector<std::string> lines = {"12, 3",
                                          "a\tb,,c ",
                                          "\"a b\" x",
                                          "x \"say \"\"hi\"\"\" y",
                                          "\"a\"b",
                                          "\"abc",
                                          "1 \"x y z",
                                          "\"a\"\"\"",
                                          "\"\"\"",
                                          "\"\"\"\"",
                                          std::string("1 2\0 3", 6),
                                          std::string("\"a\0b\"", 6),
                                          "ab\"c\" \"\" 1",
                                          ", ,\"\",\"x\"\"",
                                          "\"a,\"\"",
                                          " "};
  for (const std::string& line : lines) {
    const Strings whole = Tokens(line);
    const std::string wholeText = TokenCommaText();
    for (size_t cut = 0; cut <= line.size(); ++cut) {
      BeginLinePieces(kAllTokens);
      ParseLinePiece(std::string_view(line).substr(0, cut));
      for (size_t i = cut; i < line.size(); ++i)
        ParseLinePiece(std::string_view(line).substr(i, 1));
      EndLinePieces();
      Strings pieces;
      for (int32_t i = 0; i < TokenCount(); ++i) {
        std::string text;
        GetToken(i, text);
        pieces.push_back(text);
      }
      EXPECT_EQ(pieces, whole) << "line [" << line << "] cut at " << cut;
      EXPECT_EQ(TokenCommaText(), wholeText);
    }
  }
}

// A token longer than the tokenizer holds keeps its first bytes as text, but converts whole.
TEST_F(TextParserTest, LongTokenIsHeldCutButConvertsWhole) {
  const std::string zeros(3 * kHeldTokenBytes, '0');
  BeginLinePieces(3);
  ParseLinePiece(zeros.substr(0, 10));
  ParseLinePiece(zeros.substr(10) + "7 -");
  ParseLinePiece(zeros + "0.25E1 " + zeros + "x");
  EndLinePieces();
  ASSERT_EQ(TokenCount(), 3);
  EXPECT_EQ(GetIntToken(0), 7);
  EXPECT_EQ(GetFloatToken(1), -2.5f);
  std::string text;
  GetToken(2, text);
  EXPECT_EQ(text, zeros.substr(0, kHeldTokenBytes));
  try {
    GetFloatToken(2);
    FAIL() << "no error";
  } catch (const SceneError& error) {
    EXPECT_EQ(error.what(),
              "'" + zeros.substr(0, 100) + "...' is not a valid floating point value");
  }
}

// Messages and the trace line quote at most 100 bytes of each token.
TEST_F(TextParserTest, TraceLineCutsEachTokenAtOneHundredBytes) {
  const std::string longToken(150, 'q');
  ParseLine(std::string(100, 'a') + " " + longToken + " \"x" + std::string(120, ' ') + "\"");
  std::string text;
  GetToken(9, text);
  ASSERT_EQ(traces.size(), 1u);
  EXPECT_EQ(traces[0], "indexed failed at 9, text is: " + std::string(100, 'a') + "," +
                           std::string(100, 'q') + "...,\"x" + std::string(99, ',') + "...\"");
}

TEST(ReplaceAllNoCase, ReplacesEveryMatchIgnoringCaseOfAToZOnly) {
  EXPECT_EQ(ReplaceAllNoCase("aXbxc", "x", "-"), "a-b-c");
  EXPECT_EQ(ReplaceAllNoCase("Hello World", "WORLD", "there"), "Hello there");
  EXPECT_EQ(ReplaceAllNoCase("a b  c", " ", ","), "a,b,,c");
  EXPECT_EQ(ReplaceAllNoCase("aaa", "aa", "b"), "ba");
  EXPECT_EQ(ReplaceAllNoCase("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceAllNoCase("\xc9\xe9", "\xe9", "e"),
            "\xc9"
            "e");
}

}  // namespace
