#include "controls/CFormView.h"

#include <memory>

namespace velt
{

CFormView::CFormView(const TemplateFontSpec& fontSpec, const QSize& templateSize, QWidget* parent)
    : QScrollArea(parent)
{
    const QFont font = MakeTemplateFont(fontSpec);
    setFont(font);
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(false);
    // The form is no stop of its own when Tab moves between its controls.
    setFocusPolicy(Qt::NoFocus);
    m_units = BaseUnitsOf(font);
    auto form = std::make_unique<QWidget>();
    form->setFont(font);
    form->setFixedSize(MapDialogSize(templateSize, m_units));
    m_form = form.get();
    setWidget(form.release()); // the scroll area owns the form from here
    viewport()->setBackgroundRole(QPalette::Window);
}

QRect CFormView::MapDialogRect(const QRect& dialogUnits) const
{
    return velt::MapDialogRect(dialogUnits, m_units);
}

QWidget* CFormView::Control(int id) const
{
    const auto found = m_controls.find(id);
    return found == m_controls.end() ? nullptr : found->second;
}

void CFormView::Place(QWidget* control, const QRect& dialogUnits)
{
    control->setParent(m_form);
    control->setGeometry(MapDialogRect(dialogUnits));
    control->show();
}

} // namespace velt
