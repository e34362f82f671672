#include "app/artwork.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>


namespace fieldkit::app {
namespace {

// The sixteen colours the pictures keep to, so they sit well beside classic tool bars.
const QColor kBlack(0x00, 0x00, 0x00);
const QColor kGreen(0x00, 0x80, 0x00);
const QColor kOlive(0x80, 0x80, 0x00);
const QColor kNavy(0x00, 0x00, 0x80);
const QColor kSilver(0xC0, 0xC0, 0xC0);
const QColor kGray(0x80, 0x80, 0x80);
const QColor kLime(0x00, 0xFF, 0x00);
const QColor kYellow(0xFF, 0xFF, 0x00);
const QColor kBlue(0x00, 0x00, 0xFF);
const QColor kWhite(0xFF, 0xFF, 0xFF);

void fill(QPainter& painter, int x, int y, int width, int height, const QColor& colour)
{
    painter.fillRect(QRect(x, y, width, height), colour);
}

void polygon(QPainter& painter, std::initializer_list<QPointF> corners, const QColor& colour)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPolygon(QPolygonF(QList<QPointF>(corners)));
}

void disc(QPainter& painter, const QRectF& bounds, const QColor& colour)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(bounds);
}

// A chip with a green arrow pointing into it: new firmware going onto the board.
void paintUpgrade(QPainter& painter)
{
    for (const int row : {9, 11, 13}) {
        fill(painter, 2, row, 2, 1, kGray);
        fill(painter, 13, row, 2, 1, kGray);
    }
    fill(painter, 4, 8, 9, 8, kBlack);
    fill(painter, 5, 9, 1, 1, kSilver);
    fill(painter, 7, 0, 3, 4, kGreen);
    polygon(painter, {{3.5, 4}, {13.5, 4}, {8.5, 9}}, kGreen);
    fill(painter, 8, 0, 1, 4, kLime);
}

// The face of a nine-pin serial connector on its mounting plate.
void paintComPort(QPainter& painter)
{
    fill(painter, 0, 4, 17, 9, kGray);
    fill(painter, 1, 8, 1, 1, kBlack);
    fill(painter, 15, 8, 1, 1, kBlack);
    polygon(painter, {{2, 4}, {15, 4}, {13, 13}, {4, 13}}, kBlack);
    polygon(painter, {{3, 5}, {14, 5}, {12.5, 12}, {4.5, 12}}, kSilver);
    for (const int x : {4, 6, 8, 10, 12})
        fill(painter, x, 7, 1, 1, kNavy);
    for (const int x : {5, 7, 9, 11})
        fill(painter, x, 10, 1, 1, kNavy);
}

// A circuit board with an information badge.
void paintBoardInfo(QPainter& painter)
{
    fill(painter, 0, 2, 14, 11, kBlack);
    fill(painter, 1, 3, 12, 9, kGreen);
    fill(painter, 3, 5, 5, 4, kBlack);
    for (const int x : {2, 4, 6, 8, 10})
        fill(painter, x, 13, 1, 2, kOlive);
    fill(painter, 9, 4, 3, 1, kYellow);
    fill(painter, 9, 6, 2, 1, kYellow);
    disc(painter, QRectF(8, 8, 9, 9), kBlue);
    fill(painter, 12, 10, 1, 1, kWhite);
    fill(painter, 12, 12, 1, 3, kWhite);
}

// A question mark on a blue disc.
void paintHowTo(QPainter& painter)
{
    disc(painter, QRectF(0.5, 0.5, 16, 16), kNavy);
    fill(painter, 6, 3, 5, 2, kWhite);
    fill(painter, 5, 4, 2, 2, kWhite);
    fill(painter, 10, 4, 2, 3, kWhite);
    fill(painter, 9, 6, 2, 2, kWhite);
    fill(painter, 8, 7, 2, 3, kWhite);
    fill(painter, 8, 11, 2, 2, kWhite);
}

} // namespace

QImage toolImage(ToolImage which, int scale)
{
    QImage image(kToolImageSize * scale, kToolImageSize * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    // Straight edges fall on whole pixels at every scale; only slopes and discs are smoothed,
    // and only where the grid is fine enough for smoothing to read as a curve.
    painter.setRenderHint(QPainter::Antialiasing, scale > 1);
    painter.scale(scale, scale);
    switch (which) {
    case ToolImage::Upgrade:
        paintUpgrade(painter);
        break;
    case ToolImage::ComPort:
        paintComPort(painter);
        break;
    case ToolImage::BoardInfo:
        paintBoardInfo(painter);
        break;
    case ToolImage::HowTo:
        paintHowTo(painter);
        break;
    }
    return image;
}

QIcon toolIcon(ToolImage which)
{
    QIcon icon;
    for (const int scale : {1, 2}) {
        QImage image = toolImage(which, scale);
        image.setDevicePixelRatio(scale);
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

QImage programIconImage(int size)
{
    // Drawn on a 32 x 32 grid and scaled to the size asked for.
    constexpr qreal kGrid = 32;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / kGrid, size / kGrid);

    painter.setPen(Qt::NoPen);
    painter.setBrush(kBlack);
    painter.drawRoundedRect(QRectF(10, 1, 3, 9), 1, 1); // antenna
    painter.setBrush(QColor(0x30, 0x30, 0x38));
    painter.drawRoundedRect(QRectF(6, 8, 17, 23), 3, 3); // body
    painter.setBrush(QColor(0x9B, 0xE2, 0x7A));
    painter.drawRoundedRect(QRectF(9, 11, 11, 7), 1, 1); // display
    painter.setBrush(kSilver);
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            painter.drawRect(QRectF(9 + column * 4, 20.5 + row * 3, 3, 2)); // keys

    // Upgrade badge: a white arrow on an amber disc.
    painter.setPen(QPen(kWhite, 1.5));
    painter.setBrush(QColor(0xF0, 0x9A, 0x10));
    painter.drawEllipse(QRectF(17, 17, 14, 14));
    painter.setPen(Qt::NoPen);
    painter.setBrush(kWhite);
    QPainterPath arrow;
    arrow.addPolygon(QPolygonF({{24, 19.5}, {28.5, 24.5}, {25.5, 24.5}, {25.5, 28.5},
                                {22.5, 28.5}, {22.5, 24.5}, {19.5, 24.5}, {24, 19.5}}));
    painter.drawPath(arrow);
    return image;
}

QIcon programIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(programIconImage(size)));
    return icon;
}

} // namespace fieldkit::app
