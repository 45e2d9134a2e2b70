#include "app/CMainDialog.h"

#include "app/COpenedReplay.h"
#include "browser/CVELTListView.h"
#include "browser/CVELTTopView.h"
#include "browser/CWatchPanels.h"
#include "controls/CResponsiveWait.h"
#include "controls/DialogUnits.h"
#include "server/CMatchServerClient.h"
#include "server/ServerConnection.h"
#include "skin/CSkinEngine.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace velt
{

namespace
{

// Template 131: 340 x 201 dialog units in "System" 10 pt.
const QSize kTemplateSize(340, 201);

// The local files among what is dragged over the window.
std::vector<std::string> DroppedFiles(const QMimeData* data)
{
    std::vector<std::string> files;
    if (data == nullptr || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            files.push_back(url.toLocalFile().toStdString());
    return files;
}

} // namespace

CMainDialog::CMainDialog(CSkinEngine* skin, ServerAddress server, DesktopSeams seams,
                         QWidget* parent)
    : QDialog(parent), m_splitter(skin), m_serverHost(std::move(server.m_host)),
      m_serverPort(server.m_port), m_skin(skin), m_seams(seams)
{
    setWindowTitle(QLatin1String(kCaption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(MakeTemplateFont(SystemFont10()));
    setFixedSize(TemplateClientSize());
    setSizeGripEnabled(false);
    setAcceptDrops(true);
    connect(&m_openShortcut, &QShortcut::activated, this, &CMainDialog::OnOpenFileDialog);
}

CMainDialog::~CMainDialog() = default;

QSize CMainDialog::TemplateClientSize() const
{
    return MapDialogSize(kTemplateSize, BaseUnitsOf(MakeTemplateFont(SystemFont10())));
}

int CMainDialog::OnCreate()
{
    auto frame = std::make_unique<QWidget>(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setAutoFillBackground(true);
    QPalette white = frame->palette();
    white.setColor(QPalette::Window, Qt::white);
    frame->setPalette(white);
    frame->setGeometry(0, 0, 1, 1);
    frame->show();
    m_frame = std::move(frame);

    if (!m_splitter.CreateStatic(m_frame.get(), 2, 1))
        return 0;
    if (m_skin != nullptr)
        m_skin->SkinEngineSubscribe(&m_splitter, 0);
    m_splitter.SetTopInset(0);
    m_splitter.SetTopEdgeLine(false);

    if (!m_splitter.CreateKeyedView(m_splitter.IdFromRowCol(1, 0),
                                    CVELTListView::RuntimeClass(m_skin), QRect(), true,
                                    kListViewKey))
        return 0;
    m_listView = qobject_cast<CVELTListView*>(m_splitter.FindKeyedView(kListViewKey));
    if (m_listView == nullptr)
        return 0;
    m_listView->SetWindow(this);
    m_listView->OnInitialUpdate();

    if (m_splitter.CreateKeyedView(m_splitter.IdFromRowCol(0, 0), CVELTTopView::RuntimeClass(),
                                   QRect(), true, kTopViewKey))
        m_topView = qobject_cast<CVELTTopView*>(m_splitter.FindKeyedView(kTopViewKey));
    if (m_topView != nullptr)
        m_topView->SetWindow(this);
    SetTabOrder();
    m_watchPanels = std::make_unique<CWatchPanels>(*this, this);
    return 0;
}

std::vector<CMatchServerClient*> CMainDialog::Clients() const
{
    std::vector<CMatchServerClient*> clients;
    for (const auto& [channelId, client] : m_channelTable)
        clients.push_back(client.get());
    for (const std::unique_ptr<COpenedReplay>& opened : m_openedReplays)
        clients.push_back(&opened->Client());
    return clients;
}

void CMainDialog::SetTabOrder()
{
    if (m_topView == nullptr)
        return;
    const int order[] = {CVELTTopView::kIdConnect,    CVELTTopView::kIdRefresh,
                         CVELTTopView::kIdWatch,      CVELTTopView::kIdWindowMode,
                         CVELTTopView::kIdOpenGLMode, CVELTTopView::kIdWarcraftPath,
                         CVELTTopView::kIdChange};
    QWidget* previous = nullptr;
    for (int id : order)
    {
        QWidget* control = m_topView->Control(id);
        if (control == nullptr)
            continue;
        if (previous != nullptr)
            setTabOrder(previous, control);
        previous = control;
    }
    if (previous != nullptr && m_listView != nullptr)
        setTabOrder(previous, &m_listView->List());
}

void CMainDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier)
    {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool CMainDialog::SelectChannel(std::uint32_t channelId)
{
    auto found = m_channelTable.find(channelId);
    if (found == m_channelTable.end())
    {
        auto client = std::make_unique<CMatchServerClient>(*m_seams.m_notices, m_seams.m_ports);
        client->SetChannelId(channelId);
        client->SetHostTimings(m_seams.m_hostTimings);
        // A server that drops or goes silent during a game is reconnected to, as in velt watch.
        client->SuperviseServerLink(m_seams.m_reconnect);
        found = m_channelTable.emplace(channelId, std::move(client)).first;
        found->second->SetWarcraftPath(m_newClientWarcraftPath);
    }
    if (found->second.get() == m_currentClient)
        return true;
    m_currentClient = found->second.get();
    return false;
}

bool CMainDialog::ConnectCurrentClient()
{
    if (m_currentClient == nullptr)
        return false;
    // Name resolution and the connection may take long; the worker has the host text and the
    // client to itself while the window takes no input.
    bool connected = false;
    CResponsiveWait wait(this);
    wait.Run(
        [this, &connected]
        {
            // A server of the program's own may still be starting; one that failed leaves the
            // address as it was, and the connection fails as it would to any dead server.
            if (m_seams.m_serverReady)
            {
                if (const std::optional<ServerAddress> address = m_seams.m_serverReady())
                {
                    m_serverHost = address->m_host;
                    m_serverPort = address->m_port;
                }
            }
            connected = ConnectToServer(*m_currentClient, m_serverHost,
                                        static_cast<std::uint16_t>(m_serverPort));
        });
    return connected;
}

bool CMainDialog::OnInitDialog()
{
    if (m_frame)
    {
        m_frame->setGeometry(QRect(QPoint(0, 0), size()));
        // The frame's one pane, the splitter, fills it.
        if (m_splitter.parentWidget() == m_frame.get())
            m_splitter.setGeometry(m_frame->rect());
    }
    m_splitter.SetRowInfo(0, kTopRowHeight, kTopRowHeight);
    m_splitter.SetRowInfo(1, kListRowHeight, kListRowHeight);
    m_splitter.LockBars();
    m_splitter.RecalcLayout();
    return true;
}

void CMainDialog::CreateContents()
{
    if (m_created)
        return;
    m_created = true;
    OnCreate();
    OnInitDialog();
}

int CMainDialog::DoModal()
{
    CreateContents();
    if (!m_openAtStart.empty())
        QTimer::singleShot(0, this,
                           [this]
                           {
                               for (const std::string& path : std::exchange(m_openAtStart, {}))
                                   OpenReplayFile(path);
                           });
    return exec();
}

bool CMainDialog::OpenReplayFile(const std::string& path)
{
    if (m_listView == nullptr || path.empty())
        return false;
    // One spelling per file, so that a file opened twice is found again, and the system's own
    // in what the user is told.
    const std::string absolute =
        QDir::toNativeSeparators(QFileInfo(QString::fromStdString(path)).absoluteFilePath())
            .toStdString();
    for (const std::unique_ptr<COpenedReplay>& opened : m_openedReplays)
    {
        if (opened->Path() == absolute)
        {
            m_listView->ShowFileRow(opened->Client(), COpenedReplay::kMatchId);
            return true;
        }
    }
    std::unique_ptr<COpenedReplay> opened;
    std::string problem;
    CResponsiveWait wait(this);
    wait.Run([&] { opened = COpenedReplay::Open(absolute, m_seams, problem); });
    if (!opened)
    {
        Notices().Notify(problem);
        return false;
    }
    if (m_topView != nullptr)
        m_topView->TakeSettingsBeforeConnect(opened->Client());
    m_openedReplays.push_back(std::move(opened));
    m_listView->ShowFileRow(m_openedReplays.back()->Client(), COpenedReplay::kMatchId);
    return true;
}

void CMainDialog::OnOpenFileDialog()
{
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Open a replay"), QString(),
                                     QStringLiteral("Warcraft III replays (*.w3g);;All files (*)"));
    if (!path.isEmpty())
        OpenReplayFile(path.toStdString());
}

void CMainDialog::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedFiles(event->mimeData()).empty())
        event->acceptProposedAction();
}

void CMainDialog::dropEvent(QDropEvent* event)
{
    const std::vector<std::string> files = DroppedFiles(event->mimeData());
    if (files.empty())
        return;
    event->acceptProposedAction();
    for (const std::string& file : files)
        OpenReplayFile(file);
}

} // namespace velt
