#pragma once

#include "browser/DesktopSeams.h"
#include "browser/IBrowserWindow.h"
#include "controls/CSkinSplitterWnd.h"
#include "server/ServerAddress.h"

#include <QDialog>
#include <QShortcut>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velt
{

class CMatchServerClient;
class COpenedReplay;
class CSkinEngine;
class CVELTListView;
class CVELTTopView;
class CWatchPanels;

// The main window: a fixed-size dialog whose child frame holds a locked two-row splitter with the
// command bar above the match list. It owns the channel table (one match server client per
// channel), the current client, and the server host and port. The views reach it through the
// browser window interface that it gives them when it creates them.
class CMainDialog : public QDialog, public IBrowserWindow
{
    Q_OBJECT

public:
    static constexpr const char* kCaption = "VELT BETA 0.4";
    static constexpr int kListViewKey = 3;
    static constexpr int kTopViewKey = 5;
    static constexpr int kTopRowHeight = 60;
    static constexpr int kListRowHeight = 200;

    CMainDialog(CSkinEngine* skin, ServerAddress server, DesktopSeams seams = {},
                QWidget* parent = nullptr);
    ~CMainDialog() override;

    // Window creation: frame, splitter and views. Returns 0; failures leave parts out silently.
    int OnCreate();
    // Places the frame over the client area, fixes the row heights and locks the bars.
    bool OnInitDialog();
    // Creates the window contents and runs the dialog until it is closed; the files given to
    // OpenAtStart are opened once the window is up.
    int DoModal();
    // The same without the modal loop, for callers that show the window themselves.
    void CreateContents();

    // Makes the channel's client current, creating it on first use. True when it already was.
    bool SelectChannel(std::uint32_t channelId) override;
    // Resolves the server host (keeping the dotted address text from then on) and connects the
    // current client; the user is told when that fails. The window keeps painting meanwhile but
    // takes no input. True when the connection is up.
    bool ConnectCurrentClient() override;

    // Opens a replay file from disk (the command line, a file dropped onto the window, Ctrl+O):
    // the file is read and served by the program itself, and its row goes to the top of the
    // match list, picked, with "(file)" as its streamer; Watch! then plays it as any match. A
    // file already open is picked again. A file that cannot be played is told in a message box
    // naming it and what is wrong, and adds no row. The window keeps painting meanwhile but
    // takes no input. True when the file's row is in the list.
    bool OpenReplayFile(const std::string& path);
    // Files to open once DoModal has brought the window up (the command line's).
    void OpenAtStart(std::vector<std::string> paths) { m_openAtStart = std::move(paths); }
    const std::vector<std::unique_ptr<COpenedReplay>>& OpenedReplays() const
    {
        return m_openedReplays;
    }

    const DesktopSeams& Seams() const override { return m_seams; }
    IUserNotice& Notices() const override { return *m_seams.m_notices; }

    using ChannelTable = std::map<std::uint32_t, std::unique_ptr<CMatchServerClient>>;
    ChannelTable& Channels() { return m_channelTable; }
    CMatchServerClient* CurrentClient() const override { return m_currentClient; }
    std::vector<CMatchServerClient*> Clients() const override;
    // The watching panels of the sessions hosted; null before the window's contents exist.
    CWatchPanels* WatchPanels() const { return m_watchPanels.get(); }
    void SetCurrentClient(CMatchServerClient* client) { m_currentClient = client; }
    CVELTListView* ListView() const override { return m_listView; }
    CVELTTopView* TopView() const override { return m_topView; }
    CSkinSplitterWnd& Splitter() { return m_splitter; }
    QWidget* Frame() const { return m_frame.get(); }
    const std::string& ServerHost() const { return m_serverHost; }
    void SetServerHost(const std::string& host) { m_serverHost = host; }
    int ServerPort() const { return m_serverPort; }
    const std::string& NewClientWarcraftPath() const { return m_newClientWarcraftPath; }

    // The fixed client size: the template's 340 x 201 dialog units in its font.
    QSize TemplateClientSize() const;

protected:
    // Only the close box ends the program: Esc would close the dialog, and with it a folder
    // typed but not yet confirmed.
    void keyPressEvent(QKeyEvent* event) override;
    // Files dropped anywhere on the window are opened as replays.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Tab runs through the command bar's controls left to right, then into the match list.
    void SetTabOrder();
    // Ctrl+O: a file dialog for one replay file.
    void OnOpenFileDialog();

    ChannelTable m_channelTable;
    // Members go in reverse order: the opened files after the views that show them, and
    // before the channel table.
    std::vector<std::unique_ptr<COpenedReplay>> m_openedReplays;
    // Looks at the hosts of the clients above, which outlive it.
    std::unique_ptr<CWatchPanels> m_watchPanels;
    std::vector<std::string> m_openAtStart;
    CMatchServerClient* m_currentClient = nullptr;
    CVELTListView* m_listView = nullptr; // owned by the splitter's window
    CVELTTopView* m_topView = nullptr;   // owned by the splitter's window
    // The frame is declared before the splitter, which lives in it: the splitter goes first.
    std::unique_ptr<QWidget> m_frame;
    CSkinSplitterWnd m_splitter;
    std::string m_serverHost;
    int m_serverPort;
    std::string m_newClientWarcraftPath;
    CSkinEngine* m_skin;
    DesktopSeams m_seams;
    QShortcut m_openShortcut{QKeySequence::Open, this};
    bool m_created = false;
};

} // namespace velt
