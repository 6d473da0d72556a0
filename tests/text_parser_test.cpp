// Tokenizer: splitting rules, quoted tokens, lookups that fail without raising.
#include "scene/text_parser.h"

#include <gtest/gtest.h>

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
    ResetTextParser();
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

TEST_F(TextParserTest, GetTokenBeforeAnyLineShowsTheMessageAndChangesNothing) {
  std::string text = "unchanged";
  GetToken(0, text);
  EXPECT_EQ(text, "unchanged");
  EXPECT_EQ(messages, Strings{"text parser not initialized."});
  EXPECT_TRUE(traces.empty());
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
