#include "browser/CVELTTopView.h"

#include "app/GuiResources.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>

namespace velt
{

namespace
{

// Template 137: 435 x 40 dialog units.
const QSize kTemplateSize(435, 40);

} // namespace

CVELTTopView::CVELTTopView(QWidget* parent) : CFormView(SongTiFont9(), kTemplateSize, parent)
{
    InitGuiResources();
    auto* logo = CreateControl<QLabel>(kStaticId, QRect(3, 0, 95, 33));
    logo->setObjectName(QStringLiteral("logo"));
    const QPixmap bitmap{QString::fromLatin1(kLogoResource)};
    logo->setPixmap(bitmap);
    // A bitmap static takes the size of its bitmap.
    if (!bitmap.isNull())
        logo->resize(bitmap.size());
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
        CreateControl<QPushButton>(kIdChange, QRect(358, 26, 68, 14), QStringLiteral("Change"));
    for (QPushButton* button : {m_connect, m_refresh, m_watch, m_change})
        button->setAutoDefault(false);

    connect(m_connect, &QPushButton::clicked, this, &CVELTTopView::OnConnect);
    connect(m_refresh, &QPushButton::clicked, this, &CVELTTopView::OnRefresh);
    connect(m_watch, &QPushButton::clicked, this, &CVELTTopView::OnWatch);
    connect(m_change, &QPushButton::clicked, this, &CVELTTopView::OnChangePath);
    connect(m_windowModeBox, &QCheckBox::clicked, this, &CVELTTopView::OnWindowMode);
    connect(m_openGLModeBox, &QCheckBox::clicked, this, &CVELTTopView::OnOpenGLMode);
}

ViewClass CVELTTopView::RuntimeClass()
{
    return ViewClass{QStringLiteral("CVELTTopView"),
                     [] { return std::make_unique<CVELTTopView>(); }};
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

// The buttons are wired here; connecting, the settings file and watching are not yet attached to
// them, so for now they only keep the fields in step with the controls.
void CVELTTopView::OnConnect() {}

void CVELTTopView::OnRefresh() {}

void CVELTTopView::OnWatch() {}

void CVELTTopView::OnChangePath() {}

void CVELTTopView::OnWindowMode()
{
    UpdateData(true);
}

void CVELTTopView::OnOpenGLMode()
{
    UpdateData(true);
}

} // namespace velt
