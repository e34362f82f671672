#include "app/window_prompts.h"

#include "app/message_boxes.h"

namespace fieldkit::app {

std::string withHint(const std::string& text, const std::string& hint)
{
    return hint.empty() ? text : text + "\n\n" + hint;
}

std::string WindowPrompts::hinted(const Cause& cause, const std::string& text) const
{
    if (beforeBox_)
        beforeBox_();
    return hints_ ? withHint(text, hints_(cause)) : text;
}

void WindowPrompts::error(FailureKind kind, const std::string& text)
{
    errorBox(owner_, hinted(kind, text));
}

Answer WindowPrompts::question(QuestionKind kind, const std::string& text)
{
    return questionBox(owner_, hinted(kind, text));
}

void WindowPrompts::warning(WarningKind kind, const std::string& text)
{
    warningBox(owner_, hinted(kind, text));
}

} // namespace fieldkit::app
