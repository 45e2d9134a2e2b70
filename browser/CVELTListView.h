#pragma once

#include "browser/CProgressDialog.h"
#include "controls/CFormView.h"
#include "controls/CSkinSplitterWnd.h"
#include "controls/CSortableListCtrl.h"
#include "server/MatchCatalogue.h"

#include <QPersistentModelIndex>

#include <cstdint>
#include <functional>
#include <vector>

namespace velt
{

class IBrowserWindow;
class CMatchServerClient;
class CSkinEngine;
class IUserNotice;

// The lower pane of the main window: the current client's matches in nine sortable columns with
// status colours, the match that the user last picked with the mouse, the retrieval of the list
// from the server, and the watch of the picked match with its progress dialog.
class CVELTListView : public CFormView
{
    Q_OBJECT

public:
    static constexpr int kIdList = 1094;
    static constexpr int kStartTimeColumn = 4;
    static constexpr ColorRef kLiveColor = MakeColorRef(53, 97, 26);
    static constexpr ColorRef kCompletedColor = MakeColorRef(0, 0, 0);
    static constexpr ColorRef kBrokenColor = MakeColorRef(255, 0, 0);
    // Kind of child window for the skin engine: a form view.
    static constexpr int kSkinChildKind = 3;

    static constexpr const char* kConnectFirstMessage = "Please connect to VELT first!";
    static constexpr const char* kSelectMatchMessage = "Please select the match  to watch first!";

    explicit CVELTListView(CSkinEngine* skin = nullptr, QWidget* parent = nullptr);

    static ViewClass RuntimeClass(CSkinEngine* skin);

    // Columns, then the hidden progress dialog.
    void OnInitialUpdate() override;
    void SetWindow(IBrowserWindow* window);
    void SetClient(CMatchServerClient* client) { m_client = client; }
    CMatchServerClient* Client() const { return m_client; }
    void ClearList();
    // Rebuilds every row from the client's catalogue, newest start time first, with the rows of
    // the opened replay files above them; one repaint.
    void FillMatchList();
    // Selects and picks an opened replay file's row, so that Watch! plays it; a file shown for
    // the first time gets a row at the top of the list. An opened file is a client of its own
    // that lists the file's one match; that match is watched through it, whether the server's
    // client is connected or not.
    void ShowFileRow(CMatchServerClient& fileClient, std::uint32_t matchId);
    // The row of an opened file, or -1.
    int FileRow(const CMatchServerClient& fileClient) const;
    // Connects first when the client is down, asks the server for the list and waits for it at
    // most the list wait (the window keeps painting but takes no input); fills the rows when
    // the list has ended, and tells the user about a refusal or a time-out.
    void RetrieveMatchList();
    // The watch of the picked match: the progress steps, a header request or a restart of the
    // client's host for it, and the game launched or raised.
    void WatchSelectedMatch();

    std::uint32_t SelectedMatchId() const { return m_selectedMatchId; }
    // The client of the opened file whose row was picked last, or null when it was a server's
    // match.
    CMatchServerClient* SelectedFileClient() const { return m_selectedFile; }
    const QString& SelectedMap() const { return m_selectedMap; }
    CSortableListCtrl& List() { return m_list; }
    CProgressDialog& Progress() { return m_progress; }

    // Decodes an 8-bit text of the server: UTF-8 when it is valid UTF-8, else Latin-1.
    static QString FromServerText(const std::string& text);

private slots:
    void OnClickList();
    void OnDblClickList(bool onRow);
    // Enter on the selected row watches it, as a double click on it does.
    void OnEnterList();

private:
    // An opened file and its row, which follows it through sorts.
    struct FileRowEntry
    {
        CMatchServerClient* m_file;
        std::uint32_t m_matchId;
        QPersistentModelIndex m_row;
    };

    void FillRows(std::vector<CatalogueEntry>& entries);
    // One match's cells and colours at a row, from its client's catalogue entry.
    void InsertMatchRow(int row, CatalogueEntry& entry, CMatchServerClient& client);
    void InsertFileRow(FileRowEntry& entry);
    // The file's client, given the command bar's Warcraft III folder first, so that the map
    // check and the launch look in the folder the user chose last.
    CMatchServerClient& FileClient(CMatchServerClient& fileClient);
    // Takes the selected row as the pick and shows it in the progress dialog; false when no
    // row is selected.
    bool PickSelectedRow();
    // The double click's watch: nothing while busy or without a client, else the selected row.
    void WatchOnActivation();
    IUserNotice& Notices() const;

    CSortableListCtrl m_list;
    std::uint32_t m_selectedMatchId = 0;
    CMatchServerClient* m_selectedFile = nullptr;
    std::vector<FileRowEntry> m_fileRows; // in the order opened
    CMatchServerClient* m_client = nullptr;
    QString m_selectedMap;
    CSkinEngine* m_skin;
    IBrowserWindow* m_window = nullptr;
    CProgressDialog m_progress;
};

} // namespace velt
