#pragma once

#include "core/prompts.h"

#include <string>

class QWidget;

namespace fieldkit::app {

// The program's modal message boxes, each owned by `owner` (the main window).

// OK, stop icon, the application title "Upgrade" as caption.
void errorBox(QWidget* owner, const std::string& text);
// Yes and No, exclamation icon, No the default, caption "Warning".
Answer questionBox(QWidget* owner, const std::string& text);
// OK, exclamation icon, caption "Warning".
void warningBox(QWidget* owner, const std::string& text);
// OK, no icon, with its own caption.
void plainBox(QWidget* owner, const std::string& caption, const std::string& text);

} // namespace fieldkit::app
