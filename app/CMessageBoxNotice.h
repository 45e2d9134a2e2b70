#pragma once

#include "platform/UserNotice.h"

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <QString>

namespace velt
{

// Shows every notice as a modal message box with the application's title as caption and an OK
// button. Callable from any thread: on the user-interface thread the box opens at once and the
// call returns when it is answered; from any other thread it is opened on the user-interface
// thread through a queued call, so a network thread never touches a window and never waits for
// the user.
class CMessageBoxNotice final : public QObject, public IUserNotice
{
    Q_OBJECT

public:
    explicit CMessageBoxNotice(QString caption);
    void Notify(std::string_view text) override;
    // Written to the program's log (Qt's message handler: stderr), from any thread, no box.
    void Report(std::string_view text) override;
    const QString& Caption() const { return m_caption; }
    // The window that boxes belong to when no window of the program is active, as when a
    // network thread's notice arrives while the user works elsewhere; without an owner such a
    // box could open behind the main window.
    void SetOwnerWindow(QWidget* owner) { m_owner = owner; }

private:
    void Show(const QString& text);

    QString m_caption;
    QPointer<QWidget> m_owner;
};

} // namespace velt
