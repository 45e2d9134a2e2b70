#pragma once

#include "controls/DialogUnits.h"

#include <QScrollArea>

#include <map>
#include <memory>
#include <utility>

namespace velt
{

// A view laid out from a dialog template: a form of the template's size in its font, with each
// control at its template place, scrolled when the pane is smaller than the form.
class CFormView : public QScrollArea
{
    Q_OBJECT

public:
    CFormView(const TemplateFontSpec& fontSpec, const QSize& templateSize,
              QWidget* parent = nullptr);

    QWidget* Form() const { return m_form; }
    const DialogBaseUnits& BaseUnits() const { return m_units; }
    QRect MapDialogRect(const QRect& dialogUnits) const;
    // Makes the control a child of the form at the template rectangle.
    void Place(QWidget* control, const QRect& dialogUnits);

    // Creates a control of the template at its place; the form owns it. kStaticId controls are
    // not kept for Control().
    template <typename T, typename... Args>
    T* CreateControl(int id, const QRect& dialogUnits, Args&&... args)
    {
        auto control = std::make_unique<T>(std::forward<Args>(args)...);
        T* raw = control.get();
        if (id != kStaticId)
        {
            raw->setObjectName(QString::number(id));
            m_controls[id] = raw;
        }
        Place(control.release(), dialogUnits);
        return raw;
    }
    // The control with the template id, or null.
    QWidget* Control(int id) const;

    virtual void OnInitialUpdate() {}

    static constexpr int kStaticId = -1;

private:
    QWidget* m_form; // owned by the scroll area
    DialogBaseUnits m_units;
    std::map<int, QWidget*> m_controls; // owned by the form
};

} // namespace velt
