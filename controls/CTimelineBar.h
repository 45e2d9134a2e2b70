#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

namespace velt
{

// Where things stand on a match's timeline, in ms of game time from its start.
struct TimelineMarks
{
    std::uint64_t m_lengthMs = 0;
    std::uint64_t m_heldEndMs = 0;
    std::uint64_t m_positionMs = 0;
    std::optional<std::uint64_t> m_liveEdgeMs;
    std::optional<std::uint64_t> m_delayMarkMs;
    bool operator==(const TimelineMarks&) const = default;
};

// A bar across the match: the part held filled, a line at the play position, a mark at the live
// edge and a dashed one at the live delay's mark. A click, or a drag let go, chooses a time;
// while dragging, a hollow line shows where play would go. Colours come from the palette, so
// the bar follows the desktop's theme; its height follows the font.
class CTimelineBar : public QWidget
{
    Q_OBJECT

public:
    explicit CTimelineBar(QWidget* parent = nullptr);

    void SetMarks(const TimelineMarks& marks);
    const TimelineMarks& Marks() const { return m_marks; }
    // Called with the time chosen when the mouse is let go over the bar.
    void OnChosen(std::function<void(std::uint64_t)> chosen) { m_chosen = std::move(chosen); }

    // The time at an x of the bar, and the x of a time: the bar's ends are 0 and the length.
    std::uint64_t TimeAt(int x) const;
    int XOf(std::uint64_t ms) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The groove the marks are drawn on, inset so the end marks stay whole.
    QRect Groove() const;

    TimelineMarks m_marks;
    std::optional<std::uint64_t> m_dragMs;
    std::function<void(std::uint64_t)> m_chosen;
};

} // namespace velt
