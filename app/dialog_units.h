#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace fieldkit::app {

// The 8-point font the forms and dialogs were laid out for, in the platform's UI family.
QFont dialogFont();

// Dialog units: a quarter of the font's average character width across, an eighth of its
// height down. Laying controls out in these units keeps their relative positions and sizes
// whatever font and scaling the desktop uses.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font = dialogFont());

    int x(int units) const;
    int y(int units) const;
    QRect rect(int left, int top, int width, int height) const;
    QSize size(int width, int height) const;

private:
    int baseWidth_;  // average character width in pixels
    int baseHeight_; // character height in pixels
};

} // namespace fieldkit::app
