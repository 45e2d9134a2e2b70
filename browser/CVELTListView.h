#pragma once

#include "controls/CFormView.h"
#include "controls/CSkinSplitterWnd.h"
#include "controls/CSortableListCtrl.h"
#include "server/MatchCatalogue.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace velt
{

class CMatchServerClient;
class CSkinEngine;

// The lower pane of the main window: the current client's matches in nine sortable columns with
// status colours, and the match that the user last picked with the mouse.
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

    explicit CVELTListView(CSkinEngine* skin = nullptr, QWidget* parent = nullptr);

    static ViewClass RuntimeClass(CSkinEngine* skin);

    void OnInitialUpdate() override;
    void SetClient(CMatchServerClient* client) { m_client = client; }
    CMatchServerClient* Client() const { return m_client; }
    void ClearList();
    // Rebuilds every row from the client's catalogue, newest start time first; one repaint.
    void FillMatchList();

    std::uint32_t SelectedMatchId() const { return m_selectedMatchId; }
    const QString& SelectedMap() const { return m_selectedMap; }
    CSortableListCtrl& List() { return m_list; }

    // Decodes an 8-bit text of the server: UTF-8 when it is valid UTF-8, else Latin-1.
    static QString FromServerText(const std::string& text);

private slots:
    void OnClickList();

private:
    void FillRows(std::vector<CatalogueEntry>& entries);

    CSortableListCtrl m_list;
    std::uint32_t m_selectedMatchId = 0;
    CMatchServerClient* m_client = nullptr;
    QString m_selectedMap;
    CSkinEngine* m_skin;
};

} // namespace velt
