#include "controls/CResponsiveWait.h"

#include "platform/Thread.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QWidget>

namespace velt
{

namespace
{

bool IsUserRequest(QEvent::Type type)
{
    switch (type)
    {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::Close:
    case QEvent::DragEnter: // a file dropped onto the window is opened
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

} // namespace

CResponsiveWait::CResponsiveWait(QWidget* guarded) : m_guarded(guarded) {}

void CResponsiveWait::Run(const std::function<void()>& call)
{
    QEventLoop loop;
    CThread worker;
    const bool started = worker.Start(
        [&call, &loop]
        {
            call();
            // Posted, so the loop ends on its own thread even if it has not started yet.
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    if (!started)
    {
        call();
        return;
    }
    qApp->installEventFilter(this);
    loop.exec();
    qApp->removeEventFilter(this);
    worker.Join();
}

bool CResponsiveWait::eventFilter(QObject* watched, QEvent* event)
{
    if (m_guarded != nullptr && IsUserRequest(event->type()) && watched->isWidgetType())
    {
        const QWidget* target = static_cast<QWidget*>(watched);
        if (target->window() == m_guarded->window())
        {
            event->ignore();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace velt
