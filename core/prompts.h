#pragma once

#include "core/causes.h"

#include <string>

namespace fieldkit {

enum class Answer { Yes, No };

// How the logic asks the user. Each front end shows these its own way (modal boxes owned
// by the main window, lines on a terminal, a script in tests); the texts come from the logic
// and are shown exactly as given. The kind beside each text says what it is about, for
// whoever must decide something by it (hints, the --yes rule, the upgrade history).
class Prompts {
public:
    virtual ~Prompts() = default;

    // OK button, stop icon, the application title "Upgrade" as caption.
    virtual void error(FailureKind kind, const std::string& text) = 0;

    // Yes and No, exclamation icon, No the default, caption "Warning". Only Yes goes on.
    virtual Answer question(QuestionKind kind, const std::string& text) = 0;

    // OK button, exclamation icon, caption "Warning".
    virtual void warning(WarningKind kind, const std::string& text) = 0;
};

} // namespace fieldkit
