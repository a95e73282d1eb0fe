// Windows command lines: splitting by the C runtime's rules and quoting back.
#include "platform/command_line.h"

#include <gtest/gtest.h>

namespace {

struct SplitCase {
  const char* line;
  std::vector<std::string> words;
};

// Test names show the line, not the bytes of the case.
void PrintTo(const SplitCase& c, std::ostream* os) { *os << '[' << c.line << ']'; }

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, Splits) {
  EXPECT_EQ(platform::SplitCommandLine(GetParam().line), GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SplitCommandLineTest,
    ::testing::Values(
        SplitCase{"", {}}, SplitCase{"   ", {}},
        SplitCase{"C:\\WINNT\\system32\\cmd.exe /c \"Copy \"a b\" c\"",
                  {"C:\\WINNT\\system32\\cmd.exe", "/c", "Copy a", "b c"}},
        SplitCase{"\"C:\\Program Files\\x.exe\" one  two",
                  {"C:\\Program Files\\x.exe", "one", "two"}},
        // The program name takes no backslash rules.
        SplitCase{"C:\\a\\\"b c", {"C:\\a\\\"b", "c"}},
        SplitCase{"p a\\\\\\\"b",
                  {"p", "a\\\"b"}},  // 3 backslashes + quote: one backslash, a quote
        SplitCase{"p \"a\\\\\" b",
                  {"p", "a\\", "b"}},  // 2 backslashes + quote: one backslash, quote ends
        SplitCase{"p a\\b\\\\c", {"p", "a\\b\\\\c"}},  // backslashes without a quote stay
        SplitCase{"p \"a\"\"b\"", {"p", "a\"b"}},      // "" inside quotes is a quote
        SplitCase{"p \"\"", {"p", ""}}));

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
