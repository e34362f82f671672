#pragma once

#include "core/causes.h"

#include <functional>
#include <string>

namespace fieldkit {

enum class Answer { Yes, No };

// How the logic asks the user. Each front end shows these its own way (modal boxes owned
// by the main window, lines on a terminal, a script in tests); the texts come from the logic
// and are shown exactly as given. The kind beside each text says what it is about, for
// whoever must decide something by it (hints, the --yes rule, the upgrade history).
class Prompts {
public:
    // What explains a box when its text alone would leave the user guessing at the cause:
    // "Hint: ..." lines, or "" when there is nothing to add.
    using HintSource = std::function<std::string(const Cause& cause)>;

    virtual ~Prompts() = default;

    // Where the hints for the coming boxes come from. A front end shows them with the box
    // (below its text, or as a second paragraph); one without hints ignores them.
    virtual void setHints(HintSource hints) { static_cast<void>(hints); }

    // OK button, stop icon, the application title "Upgrade" as caption.
    virtual void error(FailureKind kind, const std::string& text) = 0;

    // Yes and No, exclamation icon, No the default, caption "Warning". Only Yes goes on.
    virtual Answer question(QuestionKind kind, const std::string& text) = 0;

    // OK button, exclamation icon, caption "Warning".
    virtual void warning(WarningKind kind, const std::string& text) = 0;
};

} // namespace fieldkit
