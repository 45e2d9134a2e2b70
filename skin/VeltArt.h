#pragma once

#include <QIcon>
#include <QImage>
#include <QRectF>

class QPainter;

namespace velt
{

// The program's artwork, drawn rather than stored as bitmaps, so that it is sharp at any
// screen scale. The scalable icon res/icons/veltplayer.svg draws the same shapes.

// The size of the command bar's logo in device-independent pixels (bitmap 135).
inline constexpr int kLogoWidth = 142;
inline constexpr int kLogoHeight = 50;

// The logo: "VELT" over a blue gradient, "player" below it at the right.
void PaintLogo(QPainter& painter, const QRectF& rect);

// The application icon on a square, in a 128-unit design grid scaled to the rectangle.
void PaintAppIcon(QPainter& painter, const QRectF& rect);

// The icon as an image of side x side pixels, transparent around the shape.
QImage AppIconImage(int side);

// The window icon, with images for the usual sizes.
QIcon AppIcon();

} // namespace velt
