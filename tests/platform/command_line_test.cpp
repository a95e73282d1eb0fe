// Windows command lines: splitting by the C runtime's rules and quoting back.
#include "platform/command_line.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

struct SplitCase {
  const char* name;
  const char* line;
  std::vector<std::string> words;
};

// Failure messages show the line, not the bytes of the case.
void PrintTo(const SplitCase& c, std::ostream* os) { *os << '[' << c.line << ']'; }

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, Splits) {
  EXPECT_EQ(platform::SplitCommandLine(GetParam().line), GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SplitCommandLineTest,
    ::testing::Values(SplitCase{"Empty", "", {}}, SplitCase{"OnlyBlanks", "   ", {}},
                      SplitCase{"QuotedCommandOfCmd",
                                "C:\\WINNT\\system32\\cmd.exe /c \"Copy \"a b\" c\"",
                                {"C:\\WINNT\\system32\\cmd.exe", "/c", "Copy a", "b c"}},
                      SplitCase{"QuotedProgramWithBlank",
                                "\"C:\\Program Files\\x.exe\" one  two",
                                {"C:\\Program Files\\x.exe", "one", "two"}},
                      SplitCase{
                          "ProgramNameTakesNoBackslashRules", "C:\\a\\\"b c", {"C:\\a\\\"b", "c"}},
                      // 3 backslashes + quote: one backslash, a quote
                      SplitCase{"ThreeBackslashesAndAQuote", "p a\\\\\\\"b", {"p", "a\\\"b"}},
                      // 2 backslashes + quote: one backslash, quote ends
                      SplitCase{"TwoBackslashesAndAQuote", "p \"a\\\\\" b", {"p", "a\\", "b"}},
                      SplitCase{"BackslashesWithoutAQuoteStay", "p a\\b\\\\c", {"p", "a\\b\\\\c"}},
                      SplitCase{"DoubledQuoteInsideQuotesIsAQuote", "p \"a\"\"b\"", {"p", "a\"b"}},
                      SplitCase{"EmptyQuotedArgument", "p \"\"", {"p", ""}}),
    test_support::ByName());

TEST(QuoteArgument, GivesBackTheArgument) {
  for (const std::string arg :
       {"plain", "two words", "a\"b", "end\\", "sp ace\\", "\\\\server\\x y", ""}) {
    const auto words = platform::SplitCommandLine("p " + platform::QuoteArgument(arg));
    ASSERT_EQ(words.size(), 2u) << arg;
    EXPECT_EQ(words[1], arg);
  }
}

TEST(SplitProgram, TakesTheProgramAndTheRest) {
  const auto pt = platform::SplitProgram("  \"C:\\a b\\x.exe\"   /c dir  ");
  EXPECT_EQ(pt.program, "C:\\a b\\x.exe");
  EXPECT_EQ(pt.tail, "/c dir  ");
}

}  // namespace
