#pragma once

#include "browser/CWatchPanel.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <vector>

namespace velt
{

class CLocalGameHost;
class CMatchServerClient;
class IBrowserWindow;

// One watching panel per hosted session, while its host runs: from the moment the host listens
// for the game until its session has ended (a /back, which has the game join again, keeps the
// panel). The hosts are looked at twice a second, through the same status snapshot that
// the command line's status line reads. A panel the viewer closes stays closed for that session.
// The keys of the match list go to the panel of the match picked there, else to the newest.
class CWatchPanels final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 500;

    // owner: the window the panels stand beside (their parent); window: where the clients are.
    CWatchPanels(IBrowserWindow& window, QWidget* owner);
    ~CWatchPanels() override;

    // Looks at every host now: panels appear, change and go.
    void Refresh();
    // The panels shown, oldest first.
    std::vector<CWatchPanel*> Panels() const;
    // The panel of a client's match, if it is shown.
    CWatchPanel* PanelOf(const CMatchServerClient& client, std::uint32_t matchId) const;
    // The panel that the match list's keys go to, if any is shown.
    CWatchPanel* KeyTarget() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry
    {
        std::weak_ptr<CLocalGameHost> m_host;
        const CMatchServerClient* m_client;
        std::uint32_t m_matchId;
        std::unique_ptr<CWatchPanel> m_panel; // hidden once the viewer closed it
    };

    std::unique_ptr<CWatchPanel> MakePanel(CMatchServerClient& client,
                                           const std::shared_ptr<CLocalGameHost>& host);
    // Beside the owner's right edge, each new panel below those shown (in m_entries, and those
    // of this refresh already placed).
    void Place(CWatchPanel& panel, const std::vector<Entry>& placed) const;

    IBrowserWindow& m_window;
    QWidget* m_owner;
    std::vector<Entry> m_entries;
    QTimer m_timer;
    QPointer<QObject> m_listFiltered; // the window may take its list down first
    bool m_asking = false;
};

} // namespace velt
