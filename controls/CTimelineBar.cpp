#include "controls/CTimelineBar.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <array>

namespace velt
{

namespace
{

// The live edge in the colour the match list gives live matches; the delay mark beside it.
const QColor kLiveColor(53, 97, 26);
const QColor kLiveColorOnDark(120, 200, 90);
const QColor kDelayColor(200, 120, 0);

bool DarkPalette(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

} // namespace

CTimelineBar::CTimelineBar(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void CTimelineBar::SetMarks(const TimelineMarks& marks)
{
    // Play moves a little at every refresh; the bar is drawn again only when a mark moves by a
    // pixel.
    const auto pixels = [this]
    {
        const auto x = [this](const std::optional<std::uint64_t>& ms)
        { return ms ? XOf(*ms) : -1; };
        return std::array<int, 5>{XOf(m_marks.m_heldEndMs), XOf(m_marks.m_positionMs),
                                  x(m_marks.m_liveEdgeMs), x(m_marks.m_delayMarkMs),
                                  m_marks.m_lengthMs == 0 ? 0 : 1};
    };
    const std::array<int, 5> before = pixels();
    m_marks = marks;
    if (pixels() != before)
        update();
}

QSize CTimelineBar::sizeHint() const
{
    const int em = fontMetrics().height();
    return {em * 20, em + em / 2};
}

QSize CTimelineBar::minimumSizeHint() const
{
    const int em = fontMetrics().height();
    return {em * 8, em + em / 2};
}

QRect CTimelineBar::Groove() const
{
    const int inset = std::max(2, fontMetrics().height() / 4);
    return rect().adjusted(inset, inset, -inset, -inset);
}

std::uint64_t CTimelineBar::TimeAt(int x) const
{
    const QRect groove = Groove();
    if (groove.width() <= 1 || m_marks.m_lengthMs == 0)
        return 0;
    const int from = std::clamp(x - groove.left(), 0, groove.width() - 1);
    return m_marks.m_lengthMs * static_cast<std::uint64_t>(from) /
           static_cast<std::uint64_t>(groove.width() - 1);
}

int CTimelineBar::XOf(std::uint64_t ms) const
{
    const QRect groove = Groove();
    if (m_marks.m_lengthMs == 0)
        return groove.left();
    const std::uint64_t at = std::min(ms, m_marks.m_lengthMs);
    return groove.left() + static_cast<int>(at * static_cast<std::uint64_t>(groove.width() - 1) /
                                            m_marks.m_lengthMs);
}

void CTimelineBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& colours = palette();
    const bool enabled = isEnabled();
    const QRect groove = Groove();
    const int line = std::max(2, fontMetrics().height() / 8);

    painter.setPen(colours.color(QPalette::Mid));
    painter.setBrush(colours.color(QPalette::Base));
    painter.drawRect(groove.adjusted(0, 0, -1, -1));

    if (m_marks.m_lengthMs > 0)
    {
        QColor held =
            colours.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::Highlight);
        held.setAlpha(enabled ? 150 : 80);
        QRect heldRect = groove.adjusted(1, 1, -1, -1);
        heldRect.setRight(XOf(m_marks.m_heldEndMs));
        painter.fillRect(heldRect, held);
    }

    const auto mark = [&](std::uint64_t ms, const QColor& colour, Qt::PenStyle style, int width)
    {
        QPen pen(colour, width, style);
        pen.setCapStyle(Qt::FlatCap);
        painter.setPen(pen);
        const int x = XOf(ms);
        painter.drawLine(x, rect().top() + 1, x, rect().bottom() - 1);
    };
    if (m_marks.m_liveEdgeMs)
        mark(*m_marks.m_liveEdgeMs, DarkPalette(colours) ? kLiveColorOnDark : kLiveColor,
             Qt::SolidLine, line);
    if (m_marks.m_delayMarkMs)
        mark(*m_marks.m_delayMarkMs, kDelayColor, Qt::DashLine, line);
    const QColor text =
        colours.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);
    mark(m_marks.m_positionMs, text, Qt::SolidLine, line + 1);
    if (m_dragMs)
        mark(*m_dragMs, text, Qt::DotLine, line);
}

void CTimelineBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_dragMs = TimeAt(event->position().toPoint().x());
    update();
}

void CTimelineBar::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragMs)
        return QWidget::mouseMoveEvent(event);
    m_dragMs = TimeAt(event->position().toPoint().x());
    update();
}

void CTimelineBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_dragMs)
        return QWidget::mouseReleaseEvent(event);
    m_dragMs.reset();
    update();
    // Let go outside the bar: the viewer changed their mind.
    if (!rect().contains(event->position().toPoint()))
        return;
    if (m_chosen)
        m_chosen(TimeAt(event->position().toPoint().x()));
}

void CTimelineBar::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange)
        m_dragMs.reset();
    QWidget::changeEvent(event);
}

} // namespace velt
