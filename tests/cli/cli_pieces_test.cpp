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
    TerminalPrompts prompts(in, out, AnswerPolicy::Ask);
    EXPECT_EQ(prompts.question(QuestionKind::IncompatibleFirmware, "Go?"), GetParam().expected);
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
    TerminalPrompts prompts(in, out, AnswerPolicy::Ask);
    prompts.error(FailureKind::ReadEsn, "Failed to read ESN");
    prompts.warning(WarningKind::ResetRadio, "Line one\n\nLine two");
    prompts.question(QuestionKind::AlreadyFlashed, "Proceed?");
    EXPECT_EQ(out.str(), "Error:\nFailed to read ESN\nWarning:\nLine one\n\nLine two\nQuestion:\nProceed?\n[y/N] ");
}

TEST(TerminalPrompts, AHintChosenByTheBoxKindFollowsItsTextAndComesBeforeTheAnswer)
{
    std::istringstream in("n\n");
    std::ostringstream out;
    TerminalPrompts prompts(in, out, AnswerPolicy::Ask);
    prompts.setHints([](const Cause& cause) {
        return std::holds_alternative<WarningKind>(cause) ? std::string{} : "Hint: " + std::to_string(cause.index());
    });
    prompts.error(FailureKind::Ping, "Failed");
    prompts.warning(WarningKind::ResetRadio, "Quiet");
    prompts.question(QuestionKind::BootFileErrors, "Proceed?");
    EXPECT_EQ(out.str(), "Error:\nFailed\nHint: 0\nWarning:\nQuiet\nQuestion:\nProceed?\nHint: 1\n[y/N] ");
}

struct PolicyCase {
    AnswerPolicy policy;
    QuestionKind kind;
    Answer expected;
    const char* printedAnswer;
};

class AnswerPolicies : public ::testing::TestWithParam<PolicyCase> {};

// --yes goes on only past the routine question; --force past every one; neither reads input.
TEST_P(AnswerPolicies, AnswerWithoutReadingAndSayWhy)
{
    const PolicyCase& c = GetParam();
    std::istringstream in("y\n");
    std::ostringstream out;
    TerminalPrompts prompts(in, out, c.policy);
    EXPECT_EQ(prompts.question(c.kind, "Proceed?"), c.expected);
    EXPECT_EQ(prompts.declined(), c.expected == Answer::No);
    EXPECT_TRUE(out.str().starts_with(std::string("Question:\nProceed?\n[y/N] ") + c.printedAnswer)) << out.str();
    EXPECT_EQ(out.str().find("--force only") != std::string::npos, c.expected == Answer::No);
    std::string unread;
    EXPECT_TRUE(std::getline(in, unread));
}

INSTANTIATE_TEST_SUITE_P(
    YesAndForce, AnswerPolicies,
    ::testing::Values(PolicyCase{AnswerPolicy::Routine, QuestionKind::AlreadyFlashed, Answer::Yes, "y (--yes)\n"},
                      PolicyCase{AnswerPolicy::Routine, QuestionKind::IncompatibleFirmware, Answer::No, "n (--yes)\n"},
                      PolicyCase{AnswerPolicy::Routine, QuestionKind::BootFileErrors, Answer::No, "n (--yes)\n"},
                      PolicyCase{AnswerPolicy::Routine, QuestionKind::ApplicationFileErrors, Answer::No, "n (--yes)\n"},
                      PolicyCase{AnswerPolicy::All, QuestionKind::AlreadyFlashed, Answer::Yes, "y (--force)\n"},
                      PolicyCase{AnswerPolicy::All, QuestionKind::IncompatibleFirmware, Answer::Yes, "y (--force)\n"},
                      PolicyCase{AnswerPolicy::All, QuestionKind::ApplicationFileErrors, Answer::Yes, "y (--force)\n"}));

TEST(TerminalPrompts, RemembersANoAfterLaterYes)
{
    std::istringstream in("n\ny\n");
    std::ostringstream out;
    TerminalPrompts prompts(in, out, AnswerPolicy::Ask);
    prompts.question(QuestionKind::AlreadyFlashed, "First?");
    prompts.question(QuestionKind::AlreadyFlashed, "Second?");
    EXPECT_TRUE(prompts.declined());
}

} // namespace
} // namespace fieldkit::cli
