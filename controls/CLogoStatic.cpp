#include "controls/CLogoStatic.h"

#include "skin/VeltArt.h"

#include <QPainter>
#include <QPixmap>
#include <QtMath>

namespace velt
{

CLogoStatic::CLogoStatic(QWidget* parent) : QWidget(parent)
{
    resize(kLogoWidth, kLogoHeight);
}

QSize CLogoStatic::sizeHint() const
{
    return QSize(kLogoWidth, kLogoHeight);
}

QPixmap CLogoStatic::Render(qreal devicePixelRatio)
{
    QPixmap pixmap(qCeil(kLogoWidth * devicePixelRatio), qCeil(kLogoHeight * devicePixelRatio));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    PaintLogo(painter, QRectF(0, 0, kLogoWidth, kLogoHeight));
    return pixmap;
}

void CLogoStatic::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintLogo(painter, QRectF(0, 0, kLogoWidth, kLogoHeight));
}

} // namespace velt
