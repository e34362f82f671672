#pragma once

#include "cli/terminal_notices.h"
#include "session/front_end.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <istream>
#include <ostream>
#include <string>

namespace fieldkit::cli {

// Who answers the questions.
enum class AnswerPolicy {
    Ask,     // the person at the terminal
    Routine, // --yes: Yes to the routine question only; No to any that warns of damage
    All,     // --force: Yes to every question, after printing it
};

// --yes and --force as given on the command line.
AnswerPolicy answerPolicy(bool assumeYes, bool force);
void addAnswerOptions(CLI::App& command, bool& assumeYes, bool& force);

// A run on a terminal. The boxes of the logic as lines on `out`: each box's kind, then its
// text exactly, then its hint. A question reads one answer line: "y" or "yes" in any case is
// Yes; anything else, or the end of input, is No. Once the terminal has hung up, every
// question is answered No. Notices are lines on `out` too; the progress goes to `progress`,
// when given.
class TerminalPrompts final : public session::RunView {
public:
    TerminalPrompts(std::istream& in, std::ostream& out, AnswerPolicy policy, TerminalNotices* progress = nullptr);

    // Printed below the box's text.
    void setHints(HintSource hints) override { hints_ = std::move(hints); }
    // Put before every box, e.g. "COM3: " when several boards are upgraded at once.
    void setPrefix(std::string prefix) { prefix_ = std::move(prefix); }

    void error(FailureKind kind, const std::string& text) override;
    Answer question(QuestionKind kind, const std::string& text) override;
    void warning(WarningKind kind, const std::string& text) override;
    void progress(const session::ProgressEvent& event) override;
    void notice(const std::string& text) override;

    // Whether any question was answered No.
    bool declined() const { return declined_; }

private:
    void printHint(const Cause& cause);
    Answer answerNo();

    std::istream& in_;
    std::ostream& out_;
    AnswerPolicy policy_;
    bool declined_ = false;
    HintSource hints_;
    std::string prefix_;
    TerminalNotices* progress_;
};

} // namespace fieldkit::cli
