#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QWidget;

namespace velt
{

// Runs a blocking call (a connection, a wait for the server) on a worker thread while the
// user-interface thread goes on painting, running timers and showing queued message boxes.
// Meanwhile every mouse and keyboard event and every close request for the guarded window is
// dropped, so that the user cannot start a second operation from it; other windows, such as a
// message box, stay usable.
class CResponsiveWait final : public QObject
{
    Q_OBJECT

public:
    explicit CResponsiveWait(QWidget* guarded);

    // Returns once the call has returned on the worker thread.
    void Run(const std::function<void()>& call);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_guarded;
};

} // namespace velt
