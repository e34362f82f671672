#include "cli/numbers.h"
#include "cli/terminal_prompts.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace fieldkit::cli {
namespace {

struct NumberCase {
    const char* text;
    std::optional<std::uint64_t> expected;
};

void PrintTo(const NumberCase& c, std::ostream* out)
{
    *out << '"' << c.text << '"';
}

class ParseNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ParseNumber, TakesDecimalOrPrefixedHexOnly)
{
    EXPECT_EQ(parseNumber(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseNumber,
    ::testing::Values(NumberCase{"0", 0}, NumberCase{"403000000", 403000000}, NumberCase{"0x1805A4C0", 0x1805A4C0},
                      NumberCase{"0XfF", 255}, NumberCase{"010", 10}, NumberCase{"18446744073709551615", UINT64_MAX},
                      NumberCase{"18446744073709551616", std::nullopt}, NumberCase{"0x10000000000000000", std::nullopt},
                      NumberCase{"", std::nullopt}, NumberCase{"0x", std::nullopt}, NumberCase{"-1", std::nullopt},
                      NumberCase{"+1", std::nullopt}, NumberCase{" 1", std::nullopt}, NumberCase{"12x", std::nullopt},
                      NumberCase{"1f", std::nullopt}, NumberCase{"0b1", std::nullopt}));

struct HexCase {
    const char* text;
    std::optional<std::vector<std::uint8_t>> expected;
};

void PrintTo(const HexCase& c, std::ostream* out)
{
    *out << '"' << c.text << '"';
}

class ParseHexBytes : public ::testing::TestWithParam<HexCase> {};

TEST_P(ParseHexBytes, TakesPairsOfHexDigits)
{
    EXPECT_EQ(parseHexBytes(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseHexBytes,
                         ::testing::Values(HexCase{"", std::vector<std::uint8_t>{}},
                                           HexCase{"00ff7A", std::vector<std::uint8_t>{0x00, 0xFF, 0x7A}},
                                           HexCase{"01 02:03-04", std::vector<std::uint8_t>{1, 2, 3, 4}},
                                           HexCase{"0", std::nullopt}, HexCase{"0 1", std::nullopt},
                                           HexCase{"0g", std::nullopt}, HexCase{"0x01", std::nullopt}));

struct AnswerCase {
    const char* input;
    Answer expected;
};

void PrintTo(const AnswerCase& c, std::ostream* out)
{
    *out << '"' << c.input << '"';
}

class TerminalAnswer : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(TerminalAnswer, OnlyYOrYesGoesOn)
{
    std::istringstream in(GetParam().input);
    std::ostringstream out;
    TerminalPrompts prompts(in, out, false);
    EXPECT_EQ(prompts.question("Go?"), GetParam().expected);
    EXPECT_EQ(prompts.declined(), GetParam().expected == Answer::No);
}

INSTANTIATE_TEST_SUITE_P(Inputs, TerminalAnswer,
                         ::testing::Values(AnswerCase{"y\n", Answer::Yes}, AnswerCase{"Y\n", Answer::Yes},
                                           AnswerCase{"yes\n", Answer::Yes}, AnswerCase{"YeS\r\n", Answer::Yes},
                                           AnswerCase{"  yes \n", Answer::Yes}, AnswerCase{"y", Answer::Yes},
                                           AnswerCase{"n\n", Answer::No}, AnswerCase{"\n", Answer::No},
                                           AnswerCase{"", Answer::No}, AnswerCase{"yess\n", Answer::No},
                                           AnswerCase{"ok\n", Answer::No}, AnswerCase{"no\ny\n", Answer::No}));

TEST(TerminalPrompts, ShowsEachBoxKindAndTextExactly)
{
    std::istringstream in("n\n");
    std::ostringstream out;
    TerminalPrompts prompts(in, out, false);
    prompts.error("Failed to read ESN");
    prompts.warning("Line one\n\nLine two");
    prompts.question("Proceed?");
    EXPECT_EQ(out.str(), "Error:\nFailed to read ESN\nWarning:\nLine one\n\nLine two\nQuestion:\nProceed?\n[y/N] ");
}

TEST(TerminalPrompts, AHintFollowsItsBoxTextAndComesBeforeTheAnswer)
{
    std::istringstream in("n\n");
    std::ostringstream out;
    TerminalPrompts prompts(in, out, false);
    prompts.setHints([](const std::string& text) { return text == "Quiet" ? std::string{} : "Hint: " + text; });
    prompts.error("Failed");
    prompts.warning("Quiet");
    prompts.question("Proceed?");
    EXPECT_EQ(out.str(), "Error:\nFailed\nHint: Failed\nWarning:\nQuiet\nQuestion:\nProceed?\nHint: Proceed?\n[y/N] ");
}

TEST(TerminalPrompts, AssumeYesAnswersEveryQuestionWithoutReading)
{
    std::istringstream in("n\n");
    std::ostringstream out;
    TerminalPrompts prompts(in, out, true);
    EXPECT_EQ(prompts.question("First?"), Answer::Yes);
    EXPECT_EQ(prompts.question("Second?"), Answer::Yes);
    EXPECT_FALSE(prompts.declined());
    std::string unread;
    EXPECT_TRUE(std::getline(in, unread));
    EXPECT_EQ(unread, "n");
}

TEST(TerminalPrompts, RemembersANoAfterLaterYes)
{
    std::istringstream in("n\ny\n");
    std::ostringstream out;
    TerminalPrompts prompts(in, out, false);
    prompts.question("First?");
    prompts.question("Second?");
    EXPECT_TRUE(prompts.declined());
}

} // namespace
} // namespace fieldkit::cli
