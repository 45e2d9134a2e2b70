#include "skin/VeltArt.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace velt
{

namespace
{

const QColor kDeepBlue(0x14, 0x24, 0x3D);
const QColor kLightBlue(0x2E, 0x53, 0x86);
const QColor kGold(0xF2, 0xC1, 0x2E);

} // namespace

void PaintLogo(QPainter& painter, const QRectF& rect)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0, kLightBlue);
    gradient.setColorAt(1, kDeepBlue);
    painter.fillRect(rect, gradient);

    const qreal scale = rect.height() / kLogoHeight;
    QFont word(QStringLiteral("DejaVu Sans"));
    word.setBold(true);
    word.setPixelSize(qRound(30 * scale));
    painter.setFont(word);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(rect.left() + 7 * scale, rect.top() + 1 * scale, rect.width(),
                            34 * scale),
                     Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("VELT"));

    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(qRound(11 * scale));
    painter.setFont(small);
    painter.setPen(kGold);
    painter.drawText(rect.adjusted(0, 0, -7 * scale, -3 * scale), Qt::AlignRight | Qt::AlignBottom,
                     QStringLiteral("player"));
    painter.restore();
}

void PaintAppIcon(QPainter& painter, const QRectF& rect)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rect.topLeft());
    painter.scale(rect.width() / 128.0, rect.height() / 128.0);

    QLinearGradient gradient(QPointF(0, 8), QPointF(0, 120));
    gradient.setColorAt(0, kLightBlue);
    gradient.setColorAt(1, kDeepBlue);
    QPainterPath tile;
    tile.addRoundedRect(QRectF(8, 8, 112, 112), 20, 20);
    painter.fillPath(tile, gradient);

    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawPolygon(QPolygonF({QPointF(26, 30), QPointF(44, 30), QPointF(64, 82),
                                   QPointF(84, 30), QPointF(102, 30), QPointF(72, 104),
                                   QPointF(56, 104)}));
    painter.setBrush(kGold);
    painter.drawPolygon(QPolygonF({QPointF(86, 80), QPointF(86, 106), QPointF(108, 93)}));
    painter.restore();
}

QImage AppIconImage(int side)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    PaintAppIcon(painter, QRectF(0, 0, side, side));
    return image;
}

QIcon AppIcon()
{
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(AppIconImage(side)));
    return icon;
}

} // namespace velt
