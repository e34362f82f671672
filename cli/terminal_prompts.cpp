#include "cli/terminal_prompts.h"

#include "cli/interrupt.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace fieldkit::cli {

namespace {

constexpr const char* kForceHint =
    "Hint: --yes answers only the question about a board that already has the version. This question warns "
    "that writing might render the radio unusable: find the cause first, and run again with --force only to "
    "write anyway.";

bool isYes(std::string answer)
{
    const auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
    answer.erase(answer.begin(), std::find_if_not(answer.begin(), answer.end(), isSpace));
    answer.erase(std::find_if_not(answer.rbegin(), answer.rend(), isSpace).base(), answer.end());
    std::transform(answer.begin(), answer.end(), answer.begin(), [](unsigned char c) { return std::tolower(c); });
    return answer == "y" || answer == "yes";
}

} // namespace

TerminalPrompts::TerminalPrompts(std::istream& in, std::ostream& out, AnswerPolicy policy, TerminalNotices* progress)
    : in_(in), out_(out), policy_(policy), progress_(progress)
{
}

void TerminalPrompts::progress(const session::ProgressEvent& event)
{
    if (progress_ != nullptr)
        progress_->show(event);
}

void TerminalPrompts::notice(const std::string& text)
{
    out_ << text << '\n' << std::flush;
}

void TerminalPrompts::error(FailureKind kind, const std::string& text)
{
    out_ << prefix_ << "Error:\n" << text << '\n';
    printHint(kind);
    out_ << std::flush;
}

void TerminalPrompts::warning(WarningKind kind, const std::string& text)
{
    out_ << prefix_ << "Warning:\n" << text << '\n';
    printHint(kind);
    out_ << std::flush;
}

void TerminalPrompts::printHint(const Cause& cause)
{
    if (!hints_)
        return;
    if (const std::string hint = hints_(cause); !hint.empty())
        out_ << hint << '\n';
}

Answer TerminalPrompts::answerNo()
{
    declined_ = true;
    return Answer::No;
}

Answer TerminalPrompts::question(QuestionKind kind, const std::string& text)
{
    out_ << prefix_ << "Question:\n" << text << '\n';
    printHint(kind);
    out_ << "[y/N] " << std::flush;
    if (terminalHungUp()) {
        // Nobody is left to answer, whatever the options said: No, as at the end of input.
        out_ << "n (the terminal hung up)\n" << std::flush;
        return answerNo();
    }
    if (policy_ == AnswerPolicy::All) {
        out_ << "y (--force)\n" << std::flush;
        return Answer::Yes;
    }
    if (policy_ == AnswerPolicy::Routine) {
        if (!warnsOfDamage(kind)) {
            out_ << "y (--yes)\n" << std::flush;
            return Answer::Yes;
        }
        out_ << "n (--yes)\n" << kForceHint << '\n' << std::flush;
        return answerNo();
    }
    std::string answer;
    const bool answered = static_cast<bool>(std::getline(in_, answer));
    if (!answered)
        out_ << '\n';
    if (answered && isYes(answer))
        return Answer::Yes;
    return answerNo();
}

AnswerPolicy answerPolicy(bool assumeYes, bool force)
{
    if (force)
        return AnswerPolicy::All;
    return assumeYes ? AnswerPolicy::Routine : AnswerPolicy::Ask;
}

void addAnswerOptions(CLI::App& command, bool& assumeYes, bool& force)
{
    command.add_flag("--yes", assumeYes,
                     "Answer Yes to the routine question (the board already has the version in AppConfig.ini); "
                     "questions that warn the radio might be made unusable are answered No");
    command.add_flag("--force", force,
                     "Answer Yes to every question, also those that warn the radio might be made unusable "
                     "(implies --yes)");
}

} // namespace fieldkit::cli
