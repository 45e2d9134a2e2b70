#include "browser/CWatchPanels.h"

#include "browser/CVELTListView.h"
#include "browser/IBrowserWindow.h"
#include "host/CLocalGameHost.h"
#include "server/CMatchServerClient.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>

#include <algorithm>

namespace velt
{

CWatchPanels::CWatchPanels(IBrowserWindow& window, QWidget* owner)
    : QObject(owner), m_window(window), m_owner(owner)
{
    m_timer.setInterval(kRefreshMs);
    connect(&m_timer, &QTimer::timeout, this, &CWatchPanels::Refresh);
    m_timer.start();
    if (CVELTListView* view = m_window.ListView())
    {
        m_listFiltered = &view->List();
        m_listFiltered->installEventFilter(this);
    }
}

CWatchPanels::~CWatchPanels()
{
    if (m_listFiltered)
        m_listFiltered->removeEventFilter(this);
}

std::unique_ptr<CWatchPanel> CWatchPanels::MakePanel(CMatchServerClient& client,
                                                     const std::shared_ptr<CLocalGameHost>& host)
{
    const std::uint32_t matchId = host->MatchId();
    QString name = QStringLiteral("Match %1").arg(matchId);
    if (const std::optional<CMatchInfo> match = client.FindMatch(matchId))
        if (!match->m_matchName.empty())
            name = CVELTListView::FromServerText(match->m_matchName);
    // The panel holds the host weakly: it may outlive the host by a refresh.
    std::weak_ptr<CLocalGameHost> weak = host;
    auto steer = [weak](const std::string& command)
    {
        const std::shared_ptr<CLocalGameHost> held = weak.lock();
        return held && held->Steer(command);
    };
    auto ask = [this](const QString& question)
    {
        // Refreshes wait meanwhile: the asking panel must not go while its question is open.
        m_asking = true;
        bool yes = false;
        if (const auto& ask = m_window.Seams().m_ask)
            yes = ask(question.toStdString());
        else
            yes = QMessageBox::question(m_owner, QStringLiteral("VELT"), question) ==
                  QMessageBox::Yes;
        m_asking = false;
        return yes;
    };
    auto snapshot = [weak]
    {
        const std::shared_ptr<CLocalGameHost> held = weak.lock();
        return held ? BuildSteeringModel(held->Status(), false) : SteeringModel{};
    };
    return std::make_unique<CWatchPanel>(name, steer, ask, snapshot, m_owner);
}

void CWatchPanels::Place(CWatchPanel& panel, const std::vector<Entry>& placed) const
{
    if (m_owner == nullptr)
        return;
    panel.adjustSize();
    const QRect owner = m_owner->frameGeometry();
    const QSize size = panel.frameGeometry().size();
    // Beside the main window where the screen has room, else below it; each new panel below
    // the ones shown, and all of it on the screen.
    QRect free = m_owner->screen() != nullptr ? m_owner->screen()->availableGeometry() : QRect();
    QPoint at(owner.right() + 1, owner.top());
    if (free.isValid() && at.x() + size.width() > free.right() + 1)
        at = QPoint(owner.left(), owner.bottom() + 1);
    for (const std::vector<Entry>* entries : {&m_entries, &placed})
        for (const Entry& entry : *entries)
            if (entry.m_panel && entry.m_panel->isVisible())
                at.setY(std::max(at.y(), entry.m_panel->frameGeometry().bottom() + 1));
    if (free.isValid())
    {
        at.setX(std::clamp(at.x(), free.left(),
                           std::max(free.left(), free.right() + 1 - size.width())));
        at.setY(std::clamp(at.y(), free.top(),
                           std::max(free.top(), free.bottom() + 1 - size.height())));
    }
    panel.move(at);
}

void CWatchPanels::Refresh()
{
    if (m_asking)
        return;
    std::vector<Entry> kept;
    for (CMatchServerClient* client : m_window.Clients())
    {
        for (const std::shared_ptr<CLocalGameHost>& host : client->Hosts())
        {
            // Shown while the game plays or the host waits for it to join (again).
            if (!host->SessionActive() && host->CanResume())
                continue;
            auto found = std::find_if(m_entries.begin(), m_entries.end(),
                                      [&](const Entry& e) { return e.m_host.lock() == host; });
            if (found == m_entries.end())
            {
                Entry entry{host, client, host->MatchId(), MakePanel(*client, host)};
                entry.m_panel->Show(BuildSteeringModel(host->Status(), false));
                Place(*entry.m_panel, kept);
                entry.m_panel->show();
                kept.push_back(std::move(entry));
                continue;
            }
            // A panel the viewer closed is not filled in.
            if (found->m_panel->isVisible())
                found->m_panel->Show(BuildSteeringModel(host->Status(), false));
            kept.push_back(std::move(*found));
        }
    }
    // What is left has ended or gone: its panel goes with it.
    m_entries = std::move(kept);
}

std::vector<CWatchPanel*> CWatchPanels::Panels() const
{
    std::vector<CWatchPanel*> panels;
    for (const Entry& entry : m_entries)
        if (entry.m_panel->isVisible())
            panels.push_back(entry.m_panel.get());
    return panels;
}

CWatchPanel* CWatchPanels::PanelOf(const CMatchServerClient& client, std::uint32_t matchId) const
{
    for (const Entry& entry : m_entries)
        if (entry.m_client == &client && entry.m_matchId == matchId && entry.m_panel->isVisible())
            return entry.m_panel.get();
    return nullptr;
}

CWatchPanel* CWatchPanels::KeyTarget() const
{
    if (CVELTListView* view = m_window.ListView())
    {
        const CMatchServerClient* client =
            view->SelectedFileClient() != nullptr ? view->SelectedFileClient() : view->Client();
        if (client != nullptr)
            if (CWatchPanel* panel = PanelOf(*client, view->SelectedMatchId()))
                return panel;
    }
    const std::vector<CWatchPanel*> panels = Panels();
    return panels.empty() ? nullptr : panels.back();
}

bool CWatchPanels::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_listFiltered.data() && event->type() == QEvent::KeyPress)
    {
        if (CWatchPanel* panel = KeyTarget())
            if (panel->HandleKey(*static_cast<QKeyEvent*>(event)))
                return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace velt
