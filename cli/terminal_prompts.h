#pragma once

#include "core/prompts.h"

#include <functional>
#include <istream>
#include <ostream>

namespace fieldkit::cli {

// The boxes of the logic as lines on a terminal: each box's kind, then its text exactly.
// A question reads one answer line: "y" or "yes" in any case is Yes; anything else, or
// the end of input, is No. With assumeYes every question is answered Yes unread.
class TerminalPrompts final : public Prompts {
public:
    // A line to print below a box's text ("" for none); see FailureHints.
    using HintSource = std::function<std::string(const std::string& text)>;

    TerminalPrompts(std::istream& in, std::ostream& out, bool assumeYes);

    void setHints(HintSource hints) { hints_ = std::move(hints); }

    void error(const std::string& text) override;
    Answer question(const std::string& text) override;
    void warning(const std::string& text) override;

    // Whether any question was answered No.
    bool declined() const { return declined_; }

private:
    void printHint(const std::string& text);

    std::istream& in_;
    std::ostream& out_;
    bool assumeYes_;
    bool declined_ = false;
    HintSource hints_;
};

} // namespace fieldkit::cli
