#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

namespace velt
{

// Dialog base units of a font, as Windows computes them for a dialog template's font: the average
// width of "A".."Z""a".."z" (total / 52, rounded) and the character cell height.
struct DialogBaseUnits
{
    int m_x = 0;
    int m_y = 0;
};

DialogBaseUnits BaseUnitsOf(const QFont& font);

// Template rectangle (x, y, width, height in dialog units) to pixels: each edge converted on its
// own, x * baseX / 4 and y * baseY / 8, rounded as MulDiv rounds.
QRect MapDialogRect(const QRect& dialogUnits, const DialogBaseUnits& units);
QSize MapDialogSize(const QSize& dialogUnits, const DialogBaseUnits& units);

// The font that a dialog template names.
struct TemplateFontSpec
{
    QString m_face;
    int m_pointSize = 0;
    // Cell height in pixels of the named face at 96 dpi; a stand-in face is sized down to it so
    // that templates designed around the original keep their proportions.
    int m_cellHeight = 0;
};

// "System" 10 pt (templates 131 and 129), "宋体" 9 pt (137), "MS Sans Serif" 8 pt (101).
TemplateFontSpec SystemFont10();
TemplateFontSpec SongTiFont9();
TemplateFontSpec MsSansSerifFont8();

// The named face when the system has it; otherwise the stand-in family sized to the cell height.
QFont MakeTemplateFont(const TemplateFontSpec& templateFont,
                       const QString& standIn = QStringLiteral("DejaVu Sans"));

} // namespace velt
