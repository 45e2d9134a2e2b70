#pragma once

#include "skin/CSkinEngine.h"

#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace velt
{

// Size state of one splitter row or column, in pixels.
struct RowColInfo
{
    int m_minSize = 0;   // below this the row is not shown
    int m_idealSize = 0; // what the row gets when there is room
    int m_curSize = 0;   // what the last layout gave it
};

// How a view is made: its class name and a factory that creates the object, as run-time class
// information does.
struct ViewClass
{
    QString m_className;
    std::function<std::unique_ptr<QWidget>()> m_createObject;
};

// A static splitter of rows and columns whose bars (and an optional strip above the panes) are
// painted from the skin object "SkinGfxSplitter1", whose bars can be locked against dragging,
// and which remembers the views that it creates under caller-chosen keys.
class CSkinSplitterWnd : public QWidget
{
    Q_OBJECT

public:
    // The first pane's control id; pane (row, col) is kPaneFirst + row * 16 + col.
    static constexpr int kPaneFirst = 0xE900;
    static constexpr int kMaxRowsOrColumns = 16;
    static constexpr int kPlainBarSize = 4;
    static constexpr int kSkinnedBarSize = 10;

    enum class SplitType
    {
        kSplitBox,
        kSplitBar,
        kSplitIntersection,
        kSplitBorder,
    };

    // The skin engine may be null: the splitter then stays unpainted, as without a skin.
    explicit CSkinSplitterWnd(CSkinEngine* skin = nullptr);
    ~CSkinSplitterWnd() override;

    bool CreateStatic(QWidget* parent, int rows, int columns, bool visible = true,
                      int id = kPaneFirst);
    int IdFromRowCol(int row, int column) const;
    void SetRowInfo(int row, int idealSize, int minSize);
    void SetColumnInfo(int column, int idealSize, int minSize);
    RowColInfo RowInfo(int row) const;
    RowColInfo ColumnInfo(int column) const;
    QWidget* GetPane(int row, int column) const;

    // Creates a view of the class in the pane with the given control id and remembers it under
    // key (under the pane id when not visible). False, remembering nothing, when it fails.
    bool CreateKeyedView(int paneId, const ViewClass& viewClass, const QRect& rect, bool visible,
                         int key);
    // The first view, in pointer order, remembered under key; null when none is.
    QWidget* FindKeyedView(int key) const;

    // From now on the bars cannot be dragged and show no split cursor; cannot be undone.
    void LockBars();
    bool BarsLocked() const { return m_barsLocked; }
    void SetTopInset(int pixels) { m_topInset = pixels; }
    int TopInset() const { return m_topInset; }
    void SetTopEdgeLine(bool on) { m_topEdgeLine = on; }
    bool TopEdgeLine() const { return m_topEdgeLine; }

    int BarHeight() const { return m_cySplitter; }
    int BarWidth() const { return m_cxSplitter; }
    int GapHeight() const { return m_cySplitterGap; }
    int GapWidth() const { return m_cxSplitterGap; }
    bool HasSkinObject() const { return m_skinObject != nullptr; }
    // The bars between the rows, as the last layout placed them.
    const std::vector<QRect>& BarRects() const { return m_barRects; }

    virtual void RecalcLayout();

    // Shares out size among rows (or columns) by their ideal and minimum sizes; the last one
    // takes the rest. splitterSize is the gap between two neighbours.
    static void LayoutRowCol(std::vector<RowColInfo>& info, int size, int splitterSize);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

    virtual void OnDrawSplitter(QPainter* painter, SplitType type, const QRect& rect);
    virtual void OnInvertTracker(const QRect& rect);
    virtual QRect GetInsideRect() const;

private:
    void OnSkinMessage();
    int BarAt(const QPoint& point) const;
    QRect ClientRect() const;

    CSkinEngine* m_skin;
    int m_cxSplitter = kPlainBarSize;
    int m_cySplitter = kPlainBarSize;
    int m_cxSplitterGap = kPlainBarSize;
    int m_cySplitterGap = kPlainBarSize;
    int m_cxBorder = 0;
    int m_cyBorder = 0;

    int m_topInset = 0;
    bool m_topEdgeLine = false;
    SkinObjectHandle m_skinObject;
    std::map<QWidget*, int> m_viewKeys; // ordered by pointer value
    bool m_barsLocked = false;

    std::vector<RowColInfo> m_rowInfo;
    std::vector<RowColInfo> m_columnInfo;
    std::map<int, QPointer<QWidget>> m_panes; // by pane control id
    std::vector<QRect> m_barRects;
    int m_trackingBar = -1;
    int m_trackOffset = 0; // where in the bar the mouse took hold of it
    QRect m_trackerRect;
    bool m_trackerShown = false;
};

} // namespace velt
