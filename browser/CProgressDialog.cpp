#include "browser/CProgressDialog.h"

#include "browser/CVELTTopView.h"
#include "browser/IBrowserWindow.h"
#include "controls/CPictureLinkStatic.h"
#include "controls/DialogUnits.h"
#include "platform/CCheckedGameStarter.h"

#include <QLabel>
#include <QProgressBar>

#include <memory>

namespace velt
{

namespace
{

// Template 129: 212 x 138 dialog units in "System" 10 pt.
const QSize kTemplateSize(212, 138);
constexpr int kMapStep = 0;
constexpr int kGameDataStep = 50;
constexpr int kBufferingStep = 75;
constexpr int kGameStartStep = 100;

} // namespace

CProgressDialog::CProgressDialog()
{
    setWindowTitle(QLatin1String(kCaption));
    setFont(MakeTemplateFont(SystemFont10()));
}

QRect CProgressDialog::MapDialogRect(const QRect& dialogUnits) const
{
    return velt::MapDialogRect(dialogUnits, BaseUnitsOf(font()));
}

template <typename T> T* CProgressDialog::AddControl(int id, const QRect& dialogUnits)
{
    auto control = std::make_unique<T>();
    control->setObjectName(QString::number(id));
    control->setGeometry(MapDialogRect(dialogUnits));
    control->setParent(this); // the dialog owns it from here
    control->show();          // shown with the dialog
    return control.release();
}

bool CProgressDialog::Create(QWidget* owner)
{
    if (m_created)
        return true;
    m_created = true;
    setParent(owner != nullptr ? owner->window() : nullptr,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                  Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(false);
    setFixedSize(velt::MapDialogSize(kTemplateSize, BaseUnitsOf(font())));

    m_nameControl = AddControl<QLabel>(kIdName, QRect(0, 1, 212, 13));
    m_nameControl->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_mapControl = AddControl<QLabel>(kIdMap, QRect(0, 13, 212, 12));
    m_picture = AddControl<CPictureLinkStatic>(kIdPicture, QRect(4, 31, 201, 58));
    m_progress = AddControl<QProgressBar>(kIdProgress, QRect(0, 95, 212, 14));
    m_progress->setTextVisible(false);
    m_statusControl = AddControl<QLabel>(kIdStatus, QRect(8, 119, 199, 13));
    // Match names and maps come from the server: shown as they are spelt, never as markup.
    for (QLabel* label : {m_nameControl, m_mapControl, m_statusControl})
        label->setTextFormat(Qt::PlainText);

    m_progress->setRange(0, 100);
    hide();
    return true;
}

void CProgressDialog::SetNameLine(const QString& text)
{
    m_nameLine = text;
    UpdateData();
}

void CProgressDialog::SetMapLine(const QString& text)
{
    m_mapLine = QStringLiteral("Map: %1").arg(text);
    UpdateData();
}

void CProgressDialog::UpdateData()
{
    if (!m_created)
        return;
    m_nameControl->setText(m_nameLine);
    m_mapControl->setText(m_mapLine);
    m_statusControl->setText(m_statusText);
    emit DataShown();
}

void CProgressDialog::Step(int position, const char* text)
{
    if (m_created)
        m_progress->setValue(position);
    m_statusText = QLatin1String(text);
    UpdateData();
    // The steps follow each other without a pause; painting here lets a shown dialog show each.
    if (isVisible())
        repaint();
}

void CProgressDialog::StepMap()
{
    m_busy = 1;
    Step(kMapStep, kMapStepText);
    show();
    if (QWidget* owner = parentWidget())
        move(owner->frameGeometry().center() -
             QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
}

void CProgressDialog::StepGameData()
{
    Step(kGameDataStep, kGameDataStepText);
}

void CProgressDialog::StepBuffering()
{
    Step(kBufferingStep, kBufferingStepText);
}

void CProgressDialog::StepGameStart()
{
    Step(kGameStartStep, kGameStartStepText);
    LaunchWarcraft();
}

void CProgressDialog::LaunchWarcraft()
{
    m_busy = 0;
    hide();
    if (m_window == nullptr)
        return;
    WarcraftLaunch launch;
    if (const CVELTTopView* bar = m_window->TopView())
    {
        launch.m_folder = bar->WarcraftPath();
        launch.m_windowMode = bar->WindowMode() != 0;
        launch.m_openGlMode = bar->OpenGLMode() != 0;
    }
    const DesktopSeams& seams = m_window->Seams();
    CCheckedGameStarter starter(*seams.m_processStarter, *seams.m_notices, launch.m_folder);
    velt::LaunchWarcraft(launch, *seams.m_gameWindow, starter, *seams.m_notices);
}

} // namespace velt
