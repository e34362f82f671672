#include "app/window_prompts.h"

#include "app/message_boxes.h"

namespace fieldkit::app {

std::string withHint(const std::string& text, const std::string& hint)
{
    return hint.empty() ? text : text + "\n\n" + hint;
}

void WindowPrompts::comingBox() const
{
    if (beforeBox_)
        beforeBox_();
}

void WindowPrompts::error(FailureKind kind, const std::string& text)
{
    comingBox();
    errorBox(owner_, hinted(kind, text));
}

Answer WindowPrompts::question(QuestionKind kind, const std::string& text)
{
    comingBox();
    return questionBox(owner_, hinted(kind, text));
}

void WindowPrompts::warning(WarningKind kind, const std::string& text)
{
    comingBox();
    warningBox(owner_, hinted(kind, text));
}

} // namespace fieldkit::app
