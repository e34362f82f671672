#include "app/dialog_units.h"

#include <QApplication>
#include <QFontMetrics>

namespace fieldkit::app {
namespace {

constexpr qreal kDialogPointSize = 8;
constexpr int kHorizontalUnitsPerCharacter = 4;
constexpr int kVerticalUnitsPerCharacter = 8;
// The average character width is measured over both alphabets, rounded to the nearest pixel.
constexpr const char* kAlphabets = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kLettersPerAlphabet = 26;

int unitsToPixels(int units, int base, int unitsPerCharacter)
{
    return (units * base + unitsPerCharacter / 2) / unitsPerCharacter;
}

} // namespace

QFont dialogFont()
{
    QFont font = QApplication::font();
    font.setPointSizeF(kDialogPointSize);
    return font;
}

DialogUnits::DialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    baseWidth_ = (metrics.horizontalAdvance(QString::fromLatin1(kAlphabets)) / kLettersPerAlphabet + 1) / 2;
    baseHeight_ = metrics.height();
}

int DialogUnits::x(int units) const
{
    return unitsToPixels(units, baseWidth_, kHorizontalUnitsPerCharacter);
}

int DialogUnits::y(int units) const
{
    return unitsToPixels(units, baseHeight_, kVerticalUnitsPerCharacter);
}

QRect DialogUnits::rect(int left, int top, int width, int height) const
{
    return {x(left), y(top), x(width), y(height)};
}

QSize DialogUnits::size(int width, int height) const
{
    return {x(width), y(height)};
}

} // namespace fieldkit::app
