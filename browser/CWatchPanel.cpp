#include "browser/CWatchPanel.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace velt
{

namespace
{

QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

CWatchPanel::CWatchPanel(const QString& matchName, SteerFunction steer, AskFunction ask,
                         SnapshotFunction snapshot, QWidget* parent)
    : QWidget(parent, Qt::Tool), m_steer(std::move(steer)), m_ask(std::move(ask)),
      m_snapshot(std::move(snapshot))
{
    setObjectName(QLatin1String(kObjectName));
    setWindowTitle(QStringLiteral("VELT - ") + matchName);
    setFocusPolicy(Qt::StrongFocus);
    setToolTip(QStringLiteral("Keys: ") + QLatin1String(kSteeringKeys));

    m_name = new QLabel(matchName, this);
    QFont bold = m_name->font();
    bold.setBold(true);
    m_name->setFont(bold);
    m_state = new QLabel(this);
    m_time = new QLabel(this);
    m_held = new QLabel(this);
    m_speed = new QLabel(this);
    for (QLabel* label : {m_state, m_time, m_held, m_speed})
        label->setTextInteractionFlags(Qt::NoTextInteraction);
    // Room for the longest texts, so the panel keeps its size (and its controls their places)
    // while the session changes; a long match name is cut, not widening the panel.
    const QFontMetrics metrics = fontMetrics();
    m_state->setMinimumWidth(
        metrics.horizontalAdvance(QStringLiteral("waiting for the game to join")));
    m_time->setMinimumWidth(
        metrics.horizontalAdvance(QStringLiteral("000:00 (000:00 behind live)")));
    m_held->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("00:00 held (99.9 MB)")));
    m_speed->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("4.0x")));
    m_name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto* facts = new QGridLayout;
    facts->addWidget(new QLabel(QStringLiteral("State:"), this), 0, 0);
    facts->addWidget(m_state, 0, 1);
    facts->addWidget(new QLabel(QStringLiteral("Speed:"), this), 0, 2);
    facts->addWidget(m_speed, 0, 3);
    facts->addWidget(new QLabel(QStringLiteral("Game time:"), this), 1, 0);
    facts->addWidget(m_time, 1, 1);
    facts->addWidget(new QLabel(QStringLiteral("Data:"), this), 1, 2);
    facts->addWidget(m_held, 1, 3);
    facts->setColumnStretch(1, 1);
    facts->setColumnStretch(3, 1);

    m_timeline.setParent(this);
    m_widgets[static_cast<std::size_t>(SteerControl::kTimeline)] = &m_timeline;
    m_timeline.OnChosen([this](std::uint64_t ms) { Use(SteerControl::kTimeline, ms); });

    auto* play = new QHBoxLayout;
    m_pause =
        AddButton(QStringLiteral("Pause"), SteerControl::kPauseResume, QStringLiteral("Space"));
    play->addWidget(m_pause);
    play->addWidget(
        AddButton(QStringLiteral("-10 s"), SteerControl::kBack, QStringLiteral("Left")));
    play->addWidget(
        AddButton(QStringLiteral("+10 s"), SteerControl::kForward, QStringLiteral("Right")));
    play->addWidget(AddButton(QStringLiteral("Live"), SteerControl::kLive, QStringLiteral("L")));
    play->addStretch(1);
    m_delayBox = new QSpinBox(this);
    m_delayBox->setRange(0, 600);
    m_delayBox->setSuffix(QStringLiteral(" s"));
    m_delayBox->setToolTip(QStringLiteral("Seconds to stay behind live"));
    // Only a click puts the keys into the box: they belong to the panel otherwise.
    m_delayBox->setFocusPolicy(Qt::ClickFocus);
    play->addWidget(m_delayBox);
    play->addWidget(AddButton(QStringLiteral("Delay"), SteerControl::kDelay, QString()));

    auto* speeds = new QHBoxLayout;
    speeds->addWidget(
        AddButton(QStringLiteral("Slower"), SteerControl::kSlower, QStringLiteral("-")));
    for (int level = 1; level <= 4; ++level)
    {
        QPushButton* button = AddButton(QStringLiteral("%1x").arg(level), SteerControl::kSpeed,
                                        QString(), static_cast<std::uint64_t>(level));
        button->setCheckable(true);
        m_levels[static_cast<std::size_t>(level - 1)] = button;
        speeds->addWidget(button);
    }
    speeds->addWidget(
        AddButton(QStringLiteral("Faster"), SteerControl::kFaster, QStringLiteral("+")));
    speeds->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_name);
    layout->addLayout(facts);
    layout->addWidget(&m_timeline);
    layout->addLayout(play);
    layout->addLayout(speeds);

    m_tips[static_cast<std::size_t>(SteerControl::kTimeline)] =
        QStringLiteral("Click or drag to move play there (behind play: the game joins again)");
    m_tips[static_cast<std::size_t>(SteerControl::kDelay)] =
        QStringLiteral("Stay the spin box's seconds behind live (/delay)");
    Show(m_model);
    setFocus();
}

QPushButton* CWatchPanel::AddButton(const QString& text, SteerControl control, const QString& key,
                                    std::uint64_t target)
{
    auto* button = new QPushButton(text, this);
    // Keys stay with the panel: a focused button would take Space for itself.
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoDefault(false);
    if (control == SteerControl::kDelay)
        connect(button, &QPushButton::clicked, this,
                [this]
                { Use(SteerControl::kDelay, static_cast<std::uint64_t>(m_delayBox->value())); });
    else
        connect(button, &QPushButton::clicked, this,
                [this, control, target] { Use(control, target); });
    if (control != SteerControl::kSpeed)
        m_widgets[static_cast<std::size_t>(control)] = button;
    if (!key.isEmpty())
        m_tips[static_cast<std::size_t>(control)] = text + QStringLiteral(" (") + key + ')';
    return button;
}

void CWatchPanel::SetText(QLabel* label, const std::string& text)
{
    const QString shown = FromUtf8(text);
    if (label->text() != shown)
        label->setText(shown);
}

void CWatchPanel::ApplyControl(QWidget* widget, SteerControl control, const QString& enabledTip)
{
    const ControlState& state = m_model.Control(control);
    widget->setEnabled(state.m_enabled);
    const QString tip = state.m_enabled ? enabledTip : FromUtf8(state.m_why);
    if (widget->toolTip() != tip)
        widget->setToolTip(tip);
}

void CWatchPanel::Show(const SteeringModel& model)
{
    m_model = model;
    SetText(m_state, model.m_stateName);
    SetText(m_time, model.m_gameTime);
    SetText(m_held, model.m_held);
    SetText(m_speed, model.m_speed);

    const TimelineSpans& line = model.m_timeline;
    m_timeline.SetMarks({line.m_lengthMs, line.m_heldEndMs, line.m_positionMs, line.m_liveEdgeMs,
                         line.m_delayMarkMs});

    const bool paused = model.m_state == FeedState::kPaused;
    const QString pauseText = paused ? QStringLiteral("Resume") : QStringLiteral("Pause");
    if (m_pause->text() != pauseText)
        m_pause->setText(pauseText);
    m_tips[static_cast<std::size_t>(SteerControl::kPauseResume)] =
        pauseText + QStringLiteral(" (Space)");
    for (std::size_t i = 0; i < kSteerControls; ++i)
        if (m_widgets[i] != nullptr)
            ApplyControl(m_widgets[i], static_cast<SteerControl>(i), m_tips[i]);
    for (std::size_t i = 0; i < m_levels.size(); ++i)
    {
        const bool current = model.m_speedLevel == i + 1;
        ApplyControl(m_levels[i], SteerControl::kSpeed,
                     QStringLiteral("Play at %1x (/sp %1)").arg(i + 1));
        m_levels[i]->setChecked(current);
    }
    m_delayBox->setEnabled(model.Control(SteerControl::kDelay).m_enabled);
    // The viewer's own edit is left alone until it is sent.
    if (!m_delayBox->hasFocus() &&
        m_delayBox->value() != static_cast<int>(model.m_liveDelaySeconds))
        m_delayBox->setValue(static_cast<int>(model.m_liveDelaySeconds));
}

bool CWatchPanel::Use(SteerControl control, std::uint64_t target)
{
    if (m_snapshot)
        Show(m_snapshot());
    const std::optional<std::string> command = SteerCommand(m_model, control, target);
    if (!command || !m_steer)
        return false;
    if (RestartsTheGame(m_model, control, target) && !m_backAsked)
    {
        if (!m_ask || !m_ask(QLatin1String(kBackQuestion)))
            return false;
        m_backAsked = true;
    }
    return m_steer(*command);
}

bool CWatchPanel::HandleKey(const QKeyEvent& event)
{
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    std::optional<SteerControl> control;
    switch (event.key())
    {
    case Qt::Key_Left:
        control = SteerControl::kBack;
        break;
    case Qt::Key_Right:
        control = SteerControl::kForward;
        break;
    default:
        if (event.text().size() == 1 && event.text().at(0).unicode() < 0x80)
            control = ControlForKey(static_cast<char>(event.text().at(0).unicode()));
        break;
    }
    if (!control)
        return false;
    // A key held down steers once: its repeats would toggle a pause on and off, or jump again.
    if (!event.isAutoRepeat())
        Use(*control);
    return true;
}

void CWatchPanel::keyPressEvent(QKeyEvent* event)
{
    if (HandleKey(*event))
        event->accept();
    else
        QWidget::keyPressEvent(event);
}

QWidget* CWatchPanel::ControlWidget(SteerControl control, int level) const
{
    if (control == SteerControl::kSpeed)
        return m_levels[static_cast<std::size_t>(std::clamp(level, 1, 4) - 1)];
    return m_widgets[static_cast<std::size_t>(control)];
}

QString CWatchPanel::StateText() const
{
    return m_state->text();
}

QString CWatchPanel::TimeText() const
{
    return m_time->text();
}

} // namespace velt
