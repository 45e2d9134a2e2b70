#pragma once

#include <QWidget>

namespace velt
{

// The command bar's logo, painted for the screen it is on, so that it stays sharp on a scaled
// screen where a bitmap would be stretched.
class CLogoStatic : public QWidget
{
    Q_OBJECT

public:
    explicit CLogoStatic(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    // The logo as the screen shows it: kLogoWidth x kLogoHeight at the given pixel ratio.
    static QPixmap Render(qreal devicePixelRatio);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace velt
