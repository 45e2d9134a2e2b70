#include "browser/CVELTTopView.h"

#include "browser/CVELTListView.h"
#include "browser/IBrowserWindow.h"
#include "controls/CLogoStatic.h"
#include "platform/FileSystem.h"
#include "formats/ProfileFile.h"
#include "res/GuiResources.h"
#include "server/CMatchServerClient.h"

#include <algorithm>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace velt
{

namespace
{

// Template 137: 435 x 40 dialog units.
const QSize kTemplateSize(435, 40);

} // namespace

CVELTTopView::CVELTTopView(QWidget* parent)
    : CFormView(SongTiFont9(), kTemplateSize, parent), m_settingsFolder(CurrentDirectory())
{
    InitGuiResources();
    auto* logo = CreateControl<CLogoStatic>(kStaticId, QRect(3, 0, 95, 33));
    logo->setObjectName(QStringLiteral("logo"));
    // A bitmap static takes the size of its bitmap.
    logo->resize(logo->sizeHint());
    m_connect =
        CreateControl<QPushButton>(kIdConnect, QRect(103, 5, 50, 17), QStringLiteral("Connect"));
    m_refresh =
        CreateControl<QPushButton>(kIdRefresh, QRect(165, 5, 50, 17), QStringLiteral("Refresh"));
    m_watch = CreateControl<QPushButton>(kIdWatch, QRect(227, 5, 50, 17), QStringLiteral("Watch!"));
    m_windowModeBox = CreateControl<QCheckBox>(kIdWindowMode, QRect(293, 11, 60, 10),
                                               QStringLiteral("Window Mode"));
    m_openGLModeBox = CreateControl<QCheckBox>(kIdOpenGLMode, QRect(358, 11, 60, 10),
                                               QStringLiteral("OpenGL Mode"));
    auto* label =
        CreateControl<QLabel>(kStaticId, QRect(112, 32, 37, 8), QStringLiteral("War3 path"));
    label->setObjectName(QStringLiteral("pathLabel"));
    m_pathEdit = CreateControl<QLineEdit>(kIdWarcraftPath, QRect(153, 27, 200, 13));
    m_pathEdit->setReadOnly(true);
    m_pathEdit->setFrame(true);
    m_change =
        CreateControl<QPushButton>(kIdChange, QRect(358, 26, 68, 14), QLatin1String(kChangeText));
    for (QPushButton* button : {m_connect, m_refresh, m_watch, m_change})
        button->setAutoDefault(false);

    connect(m_connect, &QPushButton::clicked, this, &CVELTTopView::OnConnect);
    connect(m_refresh, &QPushButton::clicked, this, &CVELTTopView::OnRefresh);
    connect(m_watch, &QPushButton::clicked, this, &CVELTTopView::OnWatch);
    connect(m_change, &QPushButton::clicked, this, &CVELTTopView::OnChangePath);
    connect(m_windowModeBox, &QCheckBox::clicked, this, &CVELTTopView::OnWindowMode);
    // Enter in the folder confirms it, as "Confirm Change" does; in the read-only field it
    // does nothing.
    connect(m_pathEdit, &QLineEdit::returnPressed, this,
            [this]
            {
                if (m_pathLocked == 0)
                    OnChangePath();
            });
    connect(m_openGLModeBox, &QCheckBox::clicked, this, &CVELTTopView::OnOpenGLMode);
}

void CVELTTopView::SetWindow(IBrowserWindow* window)
{
    m_window = window;
    const std::string folder = ChosenSettingsFolder();
    if (!folder.empty())
        m_settingsFolder = folder;
}

std::string CVELTTopView::ChosenSettingsFolder() const
{
    if (m_window != nullptr && !m_window->Seams().m_settingsFolder.empty())
        return m_window->Seams().m_settingsFolder;
    return CurrentDirectory();
}

ViewClass CVELTTopView::RuntimeClass()
{
    return ViewClass{QStringLiteral("CVELTTopView"),
                     [] { return std::make_unique<CVELTTopView>(); }};
}

std::string CVELTTopView::SettingsFilePath() const
{
    return JoinPath(m_settingsFolder, kSettingsFileName);
}

void CVELTTopView::UpdateData(bool fromControls)
{
    if (fromControls)
    {
        m_windowMode = m_windowModeBox->isChecked() ? 1 : 0;
        m_openGLMode = m_openGLModeBox->isChecked() ? 1 : 0;
        m_warcraftPath = m_pathEdit->text().toStdString();
        return;
    }
    m_windowModeBox->setChecked(m_windowMode != 0);
    m_openGLModeBox->setChecked(m_openGLMode != 0);
    m_pathEdit->setText(QString::fromStdString(m_warcraftPath));
}

void CVELTTopView::LoadSettings()
{
    // Nothing changes the working directory, so this is the folder the program started in
    // (unless an installed program keeps its settings in the user's configuration folder).
    const std::string folder = ChosenSettingsFolder();
    if (!folder.empty())
        m_settingsFolder = folder;
    const std::string path = SettingsFilePath();
    if (GetPrivateProfileInt(kSettingsSection, kWindowModeKey, 0, path) != 0)
        m_windowMode = 1;
    if (GetPrivateProfileInt(kSettingsSection, kOpenGLModeKey, 0, path) != 0)
        m_openGLMode = 1;
    m_warcraftPath =
        GetPrivateProfileString(kSettingsSection, kWarcraftPathKey, "", kWarcraftPathBuffer, path);
    // A hand-edited value beyond the longest delay is held to it; a negative one reads as 0.
    m_liveDelaySeconds = static_cast<std::uint32_t>(
        std::clamp(GetPrivateProfileInt(kSettingsSection, kLiveDelayKey, 0, path), 0,
                   static_cast<int>(CMatchServerClient::kMaxLiveDelaySeconds)));
}

void CVELTTopView::SaveSettings()
{
    UpdateData(true);
    const std::string path = SettingsFilePath();
    WritePrivateProfileString(kSettingsSection, kWindowModeKey, m_windowMode != 0 ? "1" : "0",
                              path);
    WritePrivateProfileString(kSettingsSection, kOpenGLModeKey, m_openGLMode != 0 ? "1" : "0",
                              path);
    WritePrivateProfileString(kSettingsSection, kWarcraftPathKey, m_warcraftPath, path);
}

void CVELTTopView::OnConnect()
{
    if (m_window == nullptr)
        return;
    m_window->SelectChannel(kConnectChannel);
    CMatchServerClient* client = m_window->CurrentClient();
    CVELTListView* list = m_window->ListView();
    if (list != nullptr)
        list->SetClient(client);
    TakeSettings(*client);
    // A client that is up already keeps its list; Refresh fetches a new one.
    if (!client->IsConnected() && m_window->ConnectCurrentClient())
    {
        m_connectedOnce = 1;
        if (list != nullptr)
            list->RetrieveMatchList();
    }
}

void CVELTTopView::TakeSettings(CMatchServerClient& client)
{
    m_settingsTaken = true;
    LoadSettings();
    // A stored folder goes to the client as well, so that the map column and the host's map
    // check look in the folder the user chose.
    if (m_warcraftPath.empty())
        m_warcraftPath = client.QueryWarcraftInstallPath();
    else
        client.SetWarcraftPath(m_warcraftPath);
    // Every host the client creates from now on keeps this distance from a live match's edge.
    client.SetLiveDelay(m_liveDelaySeconds);
    UpdateData(false);
}

void CVELTTopView::TakeSettingsBeforeConnect(CMatchServerClient& client)
{
    if (!m_settingsTaken)
        TakeSettings(client);
}

void CVELTTopView::OnRefresh()
{
    if (m_window != nullptr && m_window->ListView() != nullptr)
        m_window->ListView()->RetrieveMatchList();
}

void CVELTTopView::OnWatch()
{
    if (m_window != nullptr && m_window->ListView() != nullptr)
        m_window->ListView()->WatchSelectedMatch();
}

void CVELTTopView::OnChangePath()
{
    IUserNotice& notices = m_window != nullptr ? m_window->Notices() : CStderrNotice::Instance();
    if (m_connectedOnce == 0)
    {
        notices.Notify(kConnectFirstMessage);
        return;
    }
    if (m_pathEdit == nullptr)
        return;
    if (m_pathLocked == 1)
    {
        m_pathEdit->setReadOnly(false);
        m_change->setText(QLatin1String(kConfirmChangeText));
        m_pathLocked = 0;
        return;
    }
    m_pathEdit->setReadOnly(true);
    UpdateData(true);
    CMatchServerClient* client = m_window != nullptr ? m_window->CurrentClient() : nullptr;
    if (m_warcraftPath.empty() && client != nullptr)
    {
        m_warcraftPath = client->QueryWarcraftInstallPath();
        // Shown at once: SaveSettings takes the folder from the edit field, which would
        // otherwise write the empty text over the folder just found.
        m_pathEdit->setText(QString::fromStdString(m_warcraftPath));
    }
    if (m_warcraftPath.empty())
    {
        m_pathEdit->setReadOnly(false);
        notices.Notify(kInputPathMessage);
        return;
    }
    if (client != nullptr)
        client->SetWarcraftPath(m_warcraftPath);
    m_change->setText(QLatin1String(kChangeText));
    m_pathLocked = 1;
    SaveSettings();
}

void CVELTTopView::OnWindowMode()
{
    SaveSettings();
}

void CVELTTopView::OnOpenGLMode()
{
    SaveSettings();
}

} // namespace velt
