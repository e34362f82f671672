#pragma once

#include <QIcon>
#include <QImage>

namespace fieldkit::app {

// The four tool-bar pictures, in tool-bar order.
enum class ToolImage { Upgrade, ComPort, BoardInfo, HowTo };

// Tool-bar pictures are 17 x 17 logical pixels.
inline constexpr int kToolImageSize = 17;

// One tool-bar picture drawn on a pixel grid `scale` times finer (1 or 2), so it stays sharp
// on a desktop scaled to 200 %.
QImage toolImage(ToolImage which, int scale);
// Both scales, for the tool bar to pick from.
QIcon toolIcon(ToolImage which);

// The program icon, a hand-held radio with an upgrade arrow, drawn at `size` pixels square.
QImage programIconImage(int size);
QIcon programIcon();

} // namespace fieldkit::app
