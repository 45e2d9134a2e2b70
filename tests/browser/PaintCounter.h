#pragma once

#include <QEvent>
#include <QObject>

namespace velt
{

// Counts the paint events a widget receives.
class CPaintCounter : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++m_paints;
        return QObject::eventFilter(watched, event);
    }
    int m_paints = 0;
};

} // namespace velt
