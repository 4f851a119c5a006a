#include "host/page_json.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace host {
namespace {

TEST(PageJson, InputLinesBecomeValuesOfTheMatchingType) {
  std::string error;
  auto message =
      ParsePageLine(R"({"key":"SET_PORT","value":"47475","n":{"x":[1,2.5,null,true]}})", &error);
  ASSERT_TRUE(message.has_value()) << error;
  ASSERT_TRUE(message->is_dictionary());
  const pp::VarDictionary dictionary(*message);
  EXPECT_EQ(dictionary.Get("key").AsString(), "SET_PORT");
  EXPECT_EQ(dictionary.Get("value").AsString(), "47475");
  const pp::VarArray array(pp::VarDictionary(dictionary.Get("n")).Get("x"));
  ASSERT_EQ(array.GetLength(), 4u);
  EXPECT_EQ(array.Get(0), pp::Var(int32_t{1}));
  EXPECT_EQ(array.Get(1), pp::Var(2.5));
  EXPECT_TRUE(array.Get(2).is_null());
  EXPECT_EQ(array.Get(3), pp::Var(true));

  EXPECT_EQ(*ParsePageLine(R"("hello")", &error), pp::Var("hello"));
  EXPECT_EQ(*ParsePageLine("4294967296", &error), pp::Var(4294967296.0));
  EXPECT_EQ(*ParsePageLine("-7", &error), pp::Var(int32_t{-7}));
}

TEST(PageJson, LinesThatAreNotJsonAreRefused) {
  for (const std::string line : {"", "{", "SET_PORT 47475", R"({"key": })", "[1,]"}) {
    std::string error;
    EXPECT_FALSE(ParsePageLine(line, &error).has_value()) << line;
    EXPECT_FALSE(error.empty());
  }
}

std::string NestedArrays(int depth) {
  return std::string(static_cast<size_t>(depth), '[') +
         std::string(static_cast<size_t>(depth), ']');
}

std::string NestedObjects(int depth) {
  std::string line;
  for (int i = 0; i < depth; ++i) line += R"({"a":)";
  line += "1";
  return line + std::string(static_cast<size_t>(depth), '}');
}

TEST(PageJson, LinesNestedUpToTheLimitAreTaken) {
  for (const std::string& line :
       {NestedArrays(kMaxPageLineNesting), NestedObjects(kMaxPageLineNesting)}) {
    std::string error;
    EXPECT_TRUE(ParsePageLine(line, &error).has_value()) << error;
  }
}

TEST(PageJson, LinesNestedDeeperAreRefusedWithoutExhaustingTheStack) {
  const std::string deep_extra =
      R"({"key":"SET_PORT","value":"47475","extra":)" + NestedArrays(kMaxPageLineNesting) + "}";
  for (const std::string& line :
       {NestedArrays(kMaxPageLineNesting + 1), NestedObjects(kMaxPageLineNesting + 1), deep_extra,
        NestedArrays(200'000), NestedObjects(200'000)}) {
    std::string error;
    EXPECT_FALSE(ParsePageLine(line, &error).has_value()) << line.substr(0, 80);
    EXPECT_NE(error.find("nested deeper than 64 levels"), std::string::npos) << error;
  }
}

TEST(PageJson, TextWithAZeroByteIsNoJson) {
  // The parser alone would stop at the zero byte and take what came before it.
  const std::string line("{\"key\":\"SET_PORT\",\"value\":\"47475\"}\0{", 36);
  std::string error;
  EXPECT_FALSE(ParsePageLine(line, &error).has_value());
  EXPECT_EQ(error, "not a JSON value");
  EXPECT_EQ(DecodePageString(std::string("\"\"\0\\u", 5)), std::nullopt);
  EXPECT_EQ(DecodePageString(std::string("\"ok\"\0\"\\u!0ff\"", 13)), std::nullopt);
}

TEST(PageJson, AStringLineDecodesWithoutTheWhiteSpaceAroundIt) {
  EXPECT_EQ(DecodePageString(" \t\"a\\u00ff\\\"\" \r"), std::string("a\xff\"", 3));
  EXPECT_EQ(DecodePageString(" 5 "), std::nullopt);
}

TEST(PageJson, OutputIsOneLineOfJson) {
  pp::VarDictionary message;
  message.Set("SET_PLAYTIME", pp::Var("1500"));
  message.Set("SET_ELAPSED_PAGES_PLAYTIME", pp::Var("0"));
  EXPECT_EQ(FormatPageValue(message),
            R"({"SET_ELAPSED_PAGES_PLAYTIME":"0","SET_PLAYTIME":"1500"})");
  EXPECT_EQ(FormatPageValue(pp::Var("[LOG]: a \"quoted\"\nline\\")),
            R"("[LOG]: a \"quoted\"\nline\\")");
  EXPECT_EQ(FormatPageValue(pp::Var()), "null");
  EXPECT_EQ(FormatPageValue(pp::Var(0.5)), "0.5");
}

TEST(PageJson, InvalidUtf8BytesAreEscapedLosslessly) {
  const std::vector<std::string> texts = {
      std::string("caf\xc3\xa9"),             // valid: written as it is
      std::string("cut \xc3", 5),             // a character cut in half
      std::string("\xff\xfe\x80 raw"),        // bytes that start nothing
      std::string("nul \0 inside", 12),       // a zero byte
      std::string("\xed\xa0\x80 surrogate"),  // encoded surrogate: not valid UTF-8
      std::string("\xf0\x9f\x98\x80 emoji"),  // valid 4-byte character
  };
  for (const auto& text : texts) {
    const std::string line = FormatPageValue(pp::Var(text));
    EXPECT_EQ(line.find('\n'), std::string::npos);
    auto decoded = DecodePageString(line);
    ASSERT_TRUE(decoded.has_value()) << line;
    EXPECT_EQ(*decoded, text) << line;
  }
  EXPECT_EQ(FormatPageValue(pp::Var(std::string("caf\xc3\xa9"))), "\"caf\xc3\xa9\"");
  EXPECT_EQ(FormatPageValue(pp::Var(std::string("\xff"))), R"("\u00ff")");
}

}  // namespace
}  // namespace host
