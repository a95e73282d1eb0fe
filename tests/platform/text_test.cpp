// The text helper: trimming with each set of blanks, ASCII case folding of every byte, and the
// no-case order that maps use.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/forms.h"

namespace {

struct TrimCase {
  const char* name;
  std::string text;
  std::string set;
  std::string trimmed;
  std::string left;
  std::string right;
};

void PrintTo(const TrimCase& c, std::ostream* os) { *os << c.name; }

class TrimTest : public testing::TestWithParam<TrimCase> {};

TEST_P(TrimTest, TakesOnlyTheCharactersOfTheSetFromTheEnds) {
  const TrimCase& c = GetParam();
  EXPECT_EQ(platform::Trim(c.text, c.set), c.trimmed);
  EXPECT_EQ(platform::TrimLeft(c.text, c.set), c.left);
  EXPECT_EQ(platform::TrimRight(c.text, c.set), c.right);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, TrimTest,
    testing::Values(TrimCase{"Empty", "", " \t", "", "", ""},
                    TrimCase{"AllBlanks", " \t \t", " \t", "", "", ""},
                    TrimCase{"InnerBlanksStay", "\t a b \t", " \t", "a b", "a b \t", "\t a b"},
                    TrimCase{"SpacesOnlyKeepTabs", "\t a \t", " ", "\t a \t", "\t a \t", "\t a \t"},
                    TrimCase{"CarriageReturn", " key\r", " \t\r", "key", "key\r", " key"},
                    TrimCase{"Whitespace", "\n\v\f x\r\n", std::string(platform::kWhitespace), "x",
                             "x\r\n", "\n\v\f x"},
                    TrimCase{"HighBytesAreNoBlanks", "\xa0x\xa0", " \t", "\xa0x\xa0", "\xa0x\xa0",
                             "\xa0x\xa0"},
                    TrimCase{"EmbeddedZero", std::string(" \0 ", 3), " ", std::string(1, '\0'),
                             std::string("\0 ", 2), std::string(" \0", 2)}),
    [](const testing::TestParamInfo<TrimCase>& info) { return std::string(info.param.name); });

TEST(TextCase, FoldsOnlyAsciiLettersForEveryByte) {
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const char upper = b >= 'a' && b <= 'z' ? static_cast<char>(b - 32) : c;
    const char lower = b >= 'A' && b <= 'Z' ? static_cast<char>(b + 32) : c;
    EXPECT_EQ(platform::UpperChar(c), upper) << b;
    EXPECT_EQ(platform::LowerChar(c), lower) << b;
  }
  EXPECT_EQ(platform::UpperAscii("Stra\xdf"
                                 "e \xe9t\xe9"),
            "STRA\xdf"
            "E \xe9T\xe9");
  EXPECT_EQ(platform::LowerAscii("C:\\WINNT\xc9"), "c:\\winnt\xc9");
  EXPECT_EQ(platform::UpperAscii(""), "");
}

struct CompareCase {
  const char* name;
  std::string a;
  std::string b;
  int order;  // sign of CompareNoCase(a, b)
};

void PrintTo(const CompareCase& c, std::ostream* os) { *os << c.name; }

class CompareNoCaseTest : public testing::TestWithParam<CompareCase> {};

TEST_P(CompareNoCaseTest, OrdersAsTheUpperCasedTexts) {
  const CompareCase& c = GetParam();
  const int got = platform::CompareNoCase(c.a, c.b);
  EXPECT_EQ((got > 0) - (got < 0), c.order);
  EXPECT_EQ(platform::EqualsNoCase(c.a, c.b), c.order == 0);
  EXPECT_EQ(platform::LessNoCase(c.a, c.b), c.order < 0);
  // The order the test host's maps always had.
  EXPECT_EQ(platform::LessNoCase(c.a, c.b), platform::UpperAscii(c.a) < platform::UpperAscii(c.b));
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, CompareNoCaseTest,
    testing::Values(CompareCase{"BothEmpty", "", "", 0}, CompareCase{"EmptyFirst", "", "a", -1},
                    CompareCase{"SameButCase", "Remote_User", "REMOTE_user", 0},
                    CompareCase{"PrefixFirst", "url", "URLS", -1},
                    CompareCase{"UnderscoreAfterLetters", "a_", "AZ", 1},
                    CompareCase{"HighByteAfterAscii", "\xe9", "z", 1},
                    CompareCase{"HighBytesKeepTheirCase", "\xe9", "\xc9", 1},
                    CompareCase{"LengthDiffers", "ab", "a", 1}),
    [](const testing::TestParamInfo<CompareCase>& info) { return std::string(info.param.name); });

TEST(TextCase, NoCaseLessMakesOneKeyOfEverySpelling) {
  std::map<std::string, int, platform::NoCaseLess> names;
  names["Host:"] = 1;
  names["HOST:"] = 2;
  names["host\xe9"] = 3;
  names["HOST\xc9"] = 4;
  EXPECT_EQ(names.size(), 3u);
  EXPECT_EQ(names.find(std::string_view("hOsT:"))->second, 2);
  EXPECT_EQ(names.count("HOST\xe9"), 1u);
}

// Forms find controls by name the same way: ASCII letters without case, other bytes exactly.
TEST(TextCase, FormControlsAreFoundByNameWithBytesAbove127) {
  platform::forms::Form form("frmTest", "Test");
  platform::forms::Control accented(&form, platform::forms::ControlKind::kLabel, "lbl\xc9t\xe9");
  platform::forms::Control plain(&form, platform::forms::ControlKind::kButton, "CmdOk");
  EXPECT_EQ(form.FindControl("LBL\xc9T\xe9", -1), &accented);
  EXPECT_EQ(form.FindControl("lbl\xe9t\xe9", -1), nullptr);
  EXPECT_EQ(form.FindControl("cmdOK", -1), &plain);
  EXPECT_EQ(form.FindControl("", -1), nullptr);
}

}  // namespace
