#include "controls/CPictureLinkStatic.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

namespace velt
{

CPictureLinkStatic::CPictureLinkStatic(QWidget* parent) : QLabel(parent) {}

void CPictureLinkStatic::SetPicture(const QPixmap& picture)
{
    setPixmap(picture);
}

void CPictureLinkStatic::SetLink(const QString& url)
{
    m_link = url;
    if (m_link.isEmpty())
        unsetCursor();
    else
        setCursor(Qt::PointingHandCursor);
}

void CPictureLinkStatic::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || m_link.isEmpty() || !rect().contains(event->pos()))
        return;
    emit LinkClicked(m_link);
    QDesktopServices::openUrl(QUrl(m_link));
}

} // namespace velt
