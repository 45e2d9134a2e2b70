#include "browser/CVELTListView.h"

#include "browser/CVELTTopView.h"
#include "browser/IBrowserWindow.h"
#include "controls/CResponsiveWait.h"
#include "server/CMatchServerClient.h"
#include "listing/ListOrder.h"
#include "server/ServerConnection.h"
#include "skin/CSkinEngine.h"

#include <QFontMetrics>
#include <QStringDecoder>

#include <algorithm>

namespace velt
{

namespace
{

// Template 101: 561 x 409 dialog units; the list at 0, 1, 560, 404.
const QSize kTemplateSize(561, 409);
const QRect kListRect(0, 1, 560, 404);

struct ColumnLayout
{
    const char* m_title;
    int m_characters;
};

constexpr ColumnLayout kColumns[] = {
    {"Match Name", 20},   {"Players Info", 25}, {"Map", 25},    {"Status", 10}, {"Start Time", 15},
    {"Total Length", 15}, {"Streamer", 10},     {"Visits", 10}, {"Rating", 10},
};

constexpr int kMapColumn = 2;
constexpr int kVisitsColumn = 7;
constexpr int kRatingColumn = 8;
constexpr int kStatusColouredColumns = 7; // cells 0 to 6 take the status colour

ColorRef StatusColor(std::uint8_t status)
{
    switch (status)
    {
    case 0:
        return CVELTListView::kLiveColor;
    case 1:
        return CVELTListView::kCompletedColor;
    default:
        return CVELTListView::kBrokenColor;
    }
}

} // namespace

CVELTListView::CVELTListView(CSkinEngine* skin, QWidget* parent)
    : CFormView(MsSansSerifFont8(), kTemplateSize, parent), m_skin(skin)
{
    m_list.setObjectName(QString::number(kIdList));
    m_list.setFont(Form()->font());
    Place(&m_list, kListRect);
    m_list.setSelectionMode(QAbstractItemView::SingleSelection);
    m_list.setFrameShape(QFrame::Box);
    connect(&m_list, &CSortableListCtrl::Clicked, this, &CVELTListView::OnClickList);
    connect(&m_list, &CSortableListCtrl::DoubleClicked, this, &CVELTListView::OnDblClickList);
    connect(&m_list, &CSortableListCtrl::EnterPressed, this, &CVELTListView::OnEnterList);
}

void CVELTListView::SetWindow(IBrowserWindow* window)
{
    m_window = window;
    m_progress.SetWindow(window);
}

IUserNotice& CVELTListView::Notices() const
{
    return m_window != nullptr ? m_window->Notices() : CStderrNotice::Instance();
}

ViewClass CVELTListView::RuntimeClass(CSkinEngine* skin)
{
    return ViewClass{QStringLiteral("CVELTListView"),
                     [skin] { return std::make_unique<CVELTListView>(skin); }};
}

void CVELTListView::OnInitialUpdate()
{
    if (m_skin != nullptr)
        m_skin->SkinEngineAttachChild(this, kSkinChildKind);
    m_list.SetExtendedStyle(m_list.GetExtendedStyle() | kListExFullRowSelect |
                            kListExHeaderDragDrop);
    // The same quicksort and comparison as the command line's list, so both show one order.
    m_list.SetRowOrder(&SortRowOrder);
    const int averageCharWidth = QFontMetrics(Form()->font()).averageCharWidth();
    for (int column = 0; column < static_cast<int>(std::size(kColumns)); ++column)
    {
        const ColumnLayout& layout = kColumns[column];
        m_list.InsertColumn(column, QLatin1String(layout.m_title),
                            (layout.m_characters + 2) * averageCharWidth);
    }
    m_progress.Create(this);
}

void CVELTListView::ClearList()
{
    m_list.DeleteAllItems();
}

void CVELTListView::FillMatchList()
{
    if (m_client == nullptr)
        return;
    ClearList();
    std::vector<CatalogueEntry> entries = m_client->CatalogueSnapshot();
    FillRows(entries);
    m_list.SortByColumn(kStartTimeColumn, false);
    // The files keep their place above the server's matches, the latest opened on top.
    for (FileRowEntry& entry : m_fileRows)
        InsertFileRow(entry);
    // The colours were set without repainting; the list shows the result once.
    m_list.viewport()->repaint();
}

void CVELTListView::FillRows(std::vector<CatalogueEntry>& entries)
{
    int row = 0;
    for (CatalogueEntry& entry : entries)
        InsertMatchRow(row++, entry, *m_client);
}

void CVELTListView::InsertMatchRow(int row, CatalogueEntry& entry, CMatchServerClient& client)
{
    CMatchInfo& info = entry.m_info;
    m_list.InsertItem(row, FromServerText(info.m_matchName));
    m_list.SetItemData(row, info.m_matchId);
    m_list.SetItemText(row, 1, FromServerText(info.m_playersInfo));
    m_list.SetItemText(row, kMapColumn, FromServerText(info.m_mapPath));
    m_list.SetItemText(row, 3, QString::fromStdString(StatusText(info.m_status)));
    m_list.SetItemText(row, kStartTimeColumn, FromServerText(info.m_startTime));
    m_list.SetItemText(row, 5, QString::fromStdString(info.m_lengthText));
    m_list.SetItemText(row, 6, FromServerText(info.m_streamer));
    m_list.SetItemText(row, kVisitsColumn, QString::fromStdString(VisitsText(entry.m_stats)));
    const RatingCell rating = RatingText(entry.m_stats);
    m_list.SetItemText(row, kRatingColumn, QString::fromStdString(rating.m_text));
    if (rating.m_hot)
        m_list.SetCellTextColor(row, kRatingColumn, kBrokenColor, false);
    const ColorRef statusColor = StatusColor(info.m_status);
    for (int column = 0; column < kStatusColouredColumns; ++column)
        m_list.SetCellTextColor(row, column, statusColor, false);
    if (!client.MapFileExists(info.m_mapPath))
        m_list.SetCellTextColor(row, kMapColumn, kBrokenColor, false);
}

void CVELTListView::ShowFileRow(CMatchServerClient& file, std::uint32_t matchId)
{
    const bool known =
        std::any_of(m_fileRows.begin(), m_fileRows.end(),
                    [&file](const FileRowEntry& entry) { return entry.m_file == &file; });
    if (!known)
    {
        m_fileRows.push_back(FileRowEntry{&file, matchId, {}});
        InsertFileRow(m_fileRows.back());
    }
    const int row = FileRow(file);
    if (row < 0)
        return;
    const QModelIndex index = m_list.model()->index(row, 0);
    m_list.setCurrentIndex(index);
    m_list.scrollTo(index);
    PickSelectedRow();
    m_list.viewport()->repaint();
}

void CVELTListView::InsertFileRow(FileRowEntry& entry)
{
    CMatchServerClient& client = FileClient(*entry.m_file);
    for (CatalogueEntry& match : client.CatalogueSnapshot())
    {
        if (match.m_info.m_matchId != entry.m_matchId)
            continue;
        InsertMatchRow(0, match, client);
        entry.m_row = QPersistentModelIndex(m_list.model()->index(0, 0));
    }
}

int CVELTListView::FileRow(const CMatchServerClient& file) const
{
    for (const FileRowEntry& entry : m_fileRows)
        if (entry.m_file == &file && entry.m_row.isValid())
            return entry.m_row.row();
    return -1;
}

CMatchServerClient& CVELTListView::FileClient(CMatchServerClient& file)
{
    const CVELTTopView* bar = m_window != nullptr ? m_window->TopView() : nullptr;
    if (bar != nullptr && !bar->WarcraftPath().empty())
        file.SetWarcraftPath(bar->WarcraftPath());
    return file;
}

void CVELTListView::RetrieveMatchList()
{
    if (m_client == nullptr)
    {
        Notices().Notify(kConnectFirstMessage);
        return;
    }
    if (!m_client->IsConnected() && (m_window == nullptr || !m_window->ConnectCurrentClient()))
        return;
    const std::uint32_t waitMs = m_window != nullptr ? m_window->Seams().m_listWaitMs : kListWaitMs;
    CMatchServerClient* client = m_client;
    auto outcome = CMatchServerClient::ListOutcome::kTimeOut;
    CResponsiveWait wait(this);
    wait.Run([client, waitMs, &outcome] { outcome = client->FetchMatchList(waitMs); });
    if (outcome == CMatchServerClient::ListOutcome::kListEnd)
        FillMatchList();
    else if (const char* message = ListFailureMessage(outcome))
        Notices().Notify(message);
}

void CVELTListView::WatchSelectedMatch()
{
    if (m_selectedMatchId == 0)
    {
        Notices().Notify(kSelectMatchMessage);
        return;
    }
    m_progress.StepMap();
    m_progress.StepGameData();
    CMatchServerClient* client =
        m_selectedFile != nullptr ? &FileClient(*m_selectedFile) : m_client;
    if (client != nullptr)
    {
        if (client->HasHost(m_selectedMatchId))
        {
            client->ResumeHost(m_selectedMatchId);
        }
        else
        {
            // A server that dropped the connection meanwhile (its idle limit, say) is connected
            // to again first: the header request would otherwise go out on a closed socket.
            if (client == m_client && !m_client->IsConnected() && m_window != nullptr)
                m_window->ConnectCurrentClient();
            client->RequestReplayHeader(m_selectedMatchId);
        }
    }
    m_progress.StepBuffering();
    m_progress.StepGameStart();
}

bool CVELTListView::PickSelectedRow()
{
    const int row = m_list.GetFirstSelectedItem();
    if (row < 0)
        return false;
    m_selectedMatchId = m_list.GetItemData(row);
    m_selectedFile = nullptr;
    for (const FileRowEntry& entry : m_fileRows)
        if (entry.m_row.isValid() && entry.m_row.row() == row)
            m_selectedFile = entry.m_file;
    m_selectedMap = m_list.GetItemText(row, kMapColumn);
    m_progress.SetMapLine(m_selectedMap);
    m_progress.SetNameLine(m_list.GetItemText(row, 0));
    return true;
}

void CVELTListView::OnClickList()
{
    if (m_client == nullptr && m_fileRows.empty())
        return;
    PickSelectedRow();
}

void CVELTListView::OnDblClickList(bool onRow)
{
    // Empty space deselects nothing here, so the earlier row would still count as picked.
    if (onRow)
        WatchOnActivation();
}

void CVELTListView::OnEnterList()
{
    WatchOnActivation();
}

void CVELTListView::WatchOnActivation()
{
    if (m_progress.IsBusy() != 0 || (m_client == nullptr && m_fileRows.empty()))
        return;
    if (PickSelectedRow())
        WatchSelectedMatch();
}

QString CVELTListView::FromServerText(const std::string& text)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    if (!utf8.hasError())
        return decoded;
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace velt
