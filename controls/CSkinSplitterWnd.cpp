#include "controls/CSkinSplitterWnd.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <climits>

namespace velt
{

namespace
{

constexpr const char* kSkinObjectName = "SkinGfxSplitter1";
constexpr const char* kBackgroundPart = "Backbround";
constexpr const char* kBoxPart = "SplitterBox";
// Two one-pixel borders, which a row squeezed below its splitter gives back.
constexpr int kBorder2 = 2;

void Draw3dRect(QPainter* painter, const QRect& rect, const QColor& topLeft,
                const QColor& bottomRight)
{
    painter->fillRect(QRect(rect.left(), rect.top(), rect.width() - 1, 1), topLeft);
    painter->fillRect(QRect(rect.left(), rect.top(), 1, rect.height() - 1), topLeft);
    painter->fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), bottomRight);
    painter->fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), bottomRight);
}

} // namespace

CSkinSplitterWnd::CSkinSplitterWnd(CSkinEngine* skin) : m_skin(skin)
{
    setAttribute(Qt::WA_Hover, false);
}

CSkinSplitterWnd::~CSkinSplitterWnd()
{
    m_viewKeys.clear();
    if (m_skin != nullptr && m_skinObject)
        m_skin->SkinEngineReleaseObject(m_skinObject);
}

bool CSkinSplitterWnd::CreateStatic(QWidget* parent, int rows, int columns, bool visible, int id)
{
    if (rows < 1 || columns < 1 || rows > kMaxRowsOrColumns || columns > kMaxRowsOrColumns ||
        !m_rowInfo.empty())
        return false;
    setParent(parent);
    setObjectName(QStringLiteral("pane%1").arg(id));
    m_rowInfo.assign(static_cast<std::size_t>(rows), RowColInfo{});
    m_columnInfo.assign(static_cast<std::size_t>(columns), RowColInfo{});
    setMouseTracking(!m_barsLocked);
    setVisible(visible);
    return true;
}

int CSkinSplitterWnd::IdFromRowCol(int row, int column) const
{
    return kPaneFirst + row * kMaxRowsOrColumns + column;
}

void CSkinSplitterWnd::SetRowInfo(int row, int idealSize, int minSize)
{
    if (row < 0 || row >= static_cast<int>(m_rowInfo.size()))
        return;
    m_rowInfo[static_cast<std::size_t>(row)].m_idealSize = idealSize;
    m_rowInfo[static_cast<std::size_t>(row)].m_minSize = minSize;
}

void CSkinSplitterWnd::SetColumnInfo(int column, int idealSize, int minSize)
{
    if (column < 0 || column >= static_cast<int>(m_columnInfo.size()))
        return;
    m_columnInfo[static_cast<std::size_t>(column)].m_idealSize = idealSize;
    m_columnInfo[static_cast<std::size_t>(column)].m_minSize = minSize;
}

RowColInfo CSkinSplitterWnd::RowInfo(int row) const
{
    return row >= 0 && row < static_cast<int>(m_rowInfo.size())
               ? m_rowInfo[static_cast<std::size_t>(row)]
               : RowColInfo{};
}

RowColInfo CSkinSplitterWnd::ColumnInfo(int column) const
{
    return column >= 0 && column < static_cast<int>(m_columnInfo.size())
               ? m_columnInfo[static_cast<std::size_t>(column)]
               : RowColInfo{};
}

QWidget* CSkinSplitterWnd::GetPane(int row, int column) const
{
    const auto found = m_panes.find(IdFromRowCol(row, column));
    return found == m_panes.end() ? nullptr : found->second.data();
}

bool CSkinSplitterWnd::CreateKeyedView(int paneId, const ViewClass& viewClass, const QRect& rect,
                                       bool visible, int key)
{
    std::unique_ptr<QWidget> object =
        viewClass.m_createObject ? viewClass.m_createObject() : nullptr;
    if (!object)
        return false;
    object->setParent(this);
    object->setObjectName(QStringLiteral("pane%1").arg(paneId));
    object->setGeometry(rect);
    object->setVisible(visible);
    // From here the window hierarchy owns the view; the keys only refer to it.
    QWidget* view = object.release();
    m_panes[paneId] = view;
    m_viewKeys[view] = visible ? key : paneId;
    connect(view, &QObject::destroyed, this, [this, view] { m_viewKeys.erase(view); });
    return true;
}

QWidget* CSkinSplitterWnd::FindKeyedView(int key) const
{
    for (const auto& [view, viewKey] : m_viewKeys)
    {
        if (viewKey == key)
            return view;
    }
    return nullptr;
}

void CSkinSplitterWnd::LockBars()
{
    m_barsLocked = true;
    setMouseTracking(false);
    unsetCursor();
}

void CSkinSplitterWnd::LayoutRowCol(std::vector<RowColInfo>& info, int size, int splitterSize)
{
    if (info.empty())
        return;
    size = std::max(size, 0);
    for (std::size_t i = 0; i + 1 < info.size(); ++i)
    {
        if (info[i].m_idealSize < info[i].m_minSize)
            info[i].m_idealSize = 0; // too small to see
        info[i].m_curSize = info[i].m_idealSize;
    }
    info.back().m_curSize = INT_MAX; // the last one takes the rest
    for (std::size_t i = 0; i < info.size(); ++i)
    {
        RowColInfo& current = info[i];
        if (size == 0)
        {
            current.m_curSize = 0; // no room left: not shown
            continue;
        }
        if (size < current.m_minSize && i != 0)
        {
            // Below its minimum: not shown, the room goes to the one before.
            current.m_curSize = 0;
            info[i - 1].m_curSize += size + kBorder2;
            size = 0;
        }
        else if (current.m_curSize == 0)
        {
            // too small to see
        }
        else if (size < current.m_curSize)
        {
            current.m_curSize = size;
            size = 0;
        }
        else
        {
            size -= current.m_curSize;
        }
        if (i + 1 == info.size())
            continue;
        if (size > splitterSize)
        {
            size -= splitterSize;
        }
        else
        {
            // No room for another one: add what is left, less the splitter.
            current.m_curSize += size;
            if (current.m_curSize > splitterSize - kBorder2)
                current.m_curSize -= splitterSize - kBorder2;
            size = 0;
        }
    }
}

QRect CSkinSplitterWnd::ClientRect() const
{
    QRect client = rect().adjusted(m_cxBorder, m_cyBorder, -m_cxBorder, -m_cyBorder);
    client.setTop(client.top() + m_topInset);
    return client;
}

QRect CSkinSplitterWnd::GetInsideRect() const
{
    return ClientRect();
}

void CSkinSplitterWnd::RecalcLayout()
{
    if (m_rowInfo.empty())
        return;
    const QRect client = ClientRect();
    const QRect inside = GetInsideRect();
    LayoutRowCol(m_columnInfo, inside.width(), m_cxSplitterGap);
    LayoutRowCol(m_rowInfo, inside.height(), m_cySplitterGap);
    m_barRects.clear();
    int x = client.left();
    for (std::size_t column = 0; column < m_columnInfo.size(); ++column)
    {
        const int cx = m_columnInfo[column].m_curSize;
        int y = client.top();
        for (std::size_t row = 0; row < m_rowInfo.size(); ++row)
        {
            const int cy = m_rowInfo[row].m_curSize;
            if (QWidget* pane = GetPane(static_cast<int>(row), static_cast<int>(column)))
                pane->setGeometry(x, y, cx, cy);
            if (column == 0 && row + 1 < m_rowInfo.size())
                m_barRects.emplace_back(inside.left(), y + cy, inside.width(), m_cySplitter);
            y += cy + m_cySplitterGap;
        }
        if (column + 1 < m_columnInfo.size())
            m_barRects.emplace_back(x + cx, inside.top(), m_cxSplitter, inside.height());
        x += cx + m_cxSplitterGap;
    }
    update();
}

bool CSkinSplitterWnd::event(QEvent* event)
{
    if (event->type() == kSkinMessageEvent)
    {
        OnSkinMessage();
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void CSkinSplitterWnd::OnSkinMessage()
{
    if (m_skinObject && m_skin != nullptr)
        m_skin->SkinEngineReleaseObject(m_skinObject);
    m_skinObject =
        m_skin != nullptr ? m_skin->SkinEngineFindObject(QLatin1String(kSkinObjectName)) : nullptr;
    m_cxSplitter = m_cySplitter = kSkinnedBarSize;
    m_cxSplitterGap = m_cySplitterGap = kSkinnedBarSize;
    // The new sizes take effect at the next layout; a found look shows at once.
    if (m_skinObject)
        repaint();
}

void CSkinSplitterWnd::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (m_skin != nullptr)
    {
        QRect strip = rect().adjusted(m_cxBorder, m_cyBorder, -m_cxBorder, -m_cyBorder);
        strip.setHeight(m_topInset);
        m_skin->SkinEngineDrawBackground(m_skinObject, QLatin1String(kBackgroundPart), &painter,
                                         strip);
    }
    for (const QRect& bar : m_barRects)
        OnDrawSplitter(&painter, SplitType::kSplitBar, bar);
    if (m_trackerShown)
    {
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.fillRect(m_trackerRect, Qt::white);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    if (m_topEdgeLine)
    {
        painter.fillRect(QRect(0, 0, width(), 1), palette().color(QPalette::Dark));
        painter.fillRect(QRect(0, 1, width(), 1), palette().color(QPalette::Light));
    }
}

void CSkinSplitterWnd::OnDrawSplitter(QPainter* painter, SplitType type, const QRect& rect)
{
    if (painter == nullptr)
    {
        update(rect);
        return;
    }
    switch (type)
    {
    case SplitType::kSplitBox:
    {
        QRect box = rect;
        Draw3dRect(painter, box, palette().color(QPalette::Button),
                   palette().color(QPalette::Shadow));
        box.adjust(1, 1, -1, -1);
        Draw3dRect(painter, box, palette().color(QPalette::Light), palette().color(QPalette::Dark));
        box.adjust(1, 1, -1, -1);
        if (m_skin != nullptr)
            m_skin->SkinEngineDrawBox(m_skinObject, QLatin1String(kBoxPart), painter, box);
        break;
    }
    case SplitType::kSplitBorder:
        break;
    case SplitType::kSplitBar:
    case SplitType::kSplitIntersection:
        if (m_skin != nullptr)
            m_skin->SkinEngineDrawBox(m_skinObject, QLatin1String(kBoxPart), painter, rect);
        break;
    }
}

void CSkinSplitterWnd::OnInvertTracker(const QRect& rect)
{
    // Inverting twice restores the picture, as the white pattern XOR does.
    m_trackerShown = !m_trackerShown;
    m_trackerRect = rect;
    update(rect);
}

void CSkinSplitterWnd::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    RecalcLayout();
}

int CSkinSplitterWnd::BarAt(const QPoint& point) const
{
    // Only the bars between rows can be dragged.
    const auto rowBars = static_cast<int>(std::min(m_barRects.size(), m_rowInfo.size() - 1));
    for (int bar = 0; bar < rowBars; ++bar)
    {
        if (m_barRects[static_cast<std::size_t>(bar)].contains(point))
            return bar;
    }
    return -1;
}

void CSkinSplitterWnd::mousePressEvent(QMouseEvent* event)
{
    const int bar =
        m_barsLocked || event->button() != Qt::LeftButton ? -1 : BarAt(event->position().toPoint());
    if (bar < 0)
    {
        event->ignore();
        return;
    }
    m_trackingBar = bar;
    m_trackOffset =
        event->position().toPoint().y() - m_barRects[static_cast<std::size_t>(bar)].top();
    OnInvertTracker(m_barRects[static_cast<std::size_t>(bar)]);
}

void CSkinSplitterWnd::mouseMoveEvent(QMouseEvent* event)
{
    if (m_barsLocked)
    {
        event->ignore();
        return;
    }
    const QPoint point = event->position().toPoint();
    if (m_trackingBar < 0)
    {
        if (BarAt(point) >= 0)
            setCursor(Qt::SplitVCursor);
        else
            unsetCursor();
        return;
    }
    const QRect inside = GetInsideRect();
    QRect tracker = m_trackerRect;
    tracker.moveTop(std::clamp(point.y() - m_trackOffset, inside.top(),
                               std::max(inside.top(), inside.bottom() - m_cySplitter)));
    if (m_trackerShown)
        OnInvertTracker(m_trackerRect);
    OnInvertTracker(tracker);
}

void CSkinSplitterWnd::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_barsLocked || m_trackingBar < 0)
    {
        event->ignore();
        return;
    }
    const int row = m_trackingBar;
    m_trackingBar = -1;
    if (m_trackerShown)
        OnInvertTracker(m_trackerRect);
    int top = GetInsideRect().top();
    for (int above = 0; above < row; ++above)
        top += m_rowInfo[static_cast<std::size_t>(above)].m_curSize + m_cySplitterGap;
    RowColInfo& info = m_rowInfo[static_cast<std::size_t>(row)];
    info.m_idealSize = std::max(0, m_trackerRect.top() - top);
    RecalcLayout();
}

} // namespace velt
