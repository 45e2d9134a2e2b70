#include "app/CMessageBoxNotice.h"

#include <QApplication>
#include <QDebug>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

namespace velt
{

CMessageBoxNotice::CMessageBoxNotice(QString caption) : m_caption(std::move(caption)) {}

void CMessageBoxNotice::Notify(std::string_view text)
{
    const QString message = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    // On the UI thread the box is modal at once, and the caller goes on once it is answered.
    if (QThread::currentThread() == thread())
    {
        Show(message);
        return;
    }
    // This object lives on the UI thread; the queued call runs there.
    QMetaObject::invokeMethod(
        this, [this, message] { Show(message); }, Qt::QueuedConnection);
}

void CMessageBoxNotice::Report(std::string_view text)
{
    qWarning().noquote() << QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void CMessageBoxNotice::Show(const QString& text)
{
    QWidget* parent = QApplication::activeWindow();
    if (parent == nullptr)
        parent = m_owner;
    QMessageBox box(QMessageBox::NoIcon, m_caption, text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("userNotice"));
    // Notices can carry the server's or the user's text: never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace velt
