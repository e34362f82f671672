#pragma once

// The boxes of a run shown by the main window's thread, each with its hint, when there is
// one, as a second paragraph of the same box.

#include "session/front_end.h"

#include <functional>
#include <string>

class QWidget;

namespace fieldkit::app {

// The box's text with the hint below it.
std::string withHint(const std::string& text, const std::string& hint);

// A run's view in the desktop program: it keeps the run's hints for the boxes it shows.
class HintedView : public session::RunView {
public:
    void setHints(HintSource hints) override { hints_ = std::move(hints); }

protected:
    // The box's text with the hint for its cause below it.
    std::string hinted(const Cause& cause, const std::string& text) const
    {
        return hints_ ? withHint(text, hints_(cause)) : text;
    }

private:
    HintSource hints_;
};

// The view of a run on the window's own thread (the board read): its boxes.
class WindowPrompts final : public HintedView {
public:
    // `beforeBox`, when given, runs before each box (to take a wait cursor away).
    explicit WindowPrompts(QWidget* owner, std::function<void()> beforeBox = {})
        : owner_(owner), beforeBox_(std::move(beforeBox))
    {
    }

    void error(FailureKind kind, const std::string& text) override;
    Answer question(QuestionKind kind, const std::string& text) override;
    void warning(WarningKind kind, const std::string& text) override;

private:
    void comingBox() const;

    QWidget* owner_;
    std::function<void()> beforeBox_;
};

} // namespace fieldkit::app
