#include "controls/DialogUnits.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>

#include <cstdint>

namespace velt
{

namespace
{

// Windows' MulDiv: a * b / c rounded half away from zero.
int MulDiv(int a, int b, int c)
{
    const std::int64_t product = std::int64_t{a} * b;
    const std::int64_t half = c / 2;
    const std::int64_t rounded = product >= 0 ? (product + half) / c : (product - half) / c;
    return static_cast<int>(rounded);
}

constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kAlphabetLength = 52;

} // namespace

DialogBaseUnits BaseUnitsOf(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int total = metrics.horizontalAdvance(QLatin1String(kAlphabet));
    return DialogBaseUnits{(total / 26 + 1) / 2, metrics.height()};
}

QRect MapDialogRect(const QRect& dialogUnits, const DialogBaseUnits& units)
{
    const int left = MulDiv(dialogUnits.x(), units.m_x, 4);
    const int top = MulDiv(dialogUnits.y(), units.m_y, 8);
    const int right = MulDiv(dialogUnits.x() + dialogUnits.width(), units.m_x, 4);
    const int bottom = MulDiv(dialogUnits.y() + dialogUnits.height(), units.m_y, 8);
    return QRect(left, top, right - left, bottom - top);
}

QSize MapDialogSize(const QSize& dialogUnits, const DialogBaseUnits& units)
{
    return MapDialogRect(QRect(QPoint(0, 0), dialogUnits), units).size();
}

TemplateFontSpec SystemFont10()
{
    return {QStringLiteral("System"), 10, 16};
}

TemplateFontSpec SongTiFont9()
{
    return {QString::fromUtf8("\xE5\xAE\x8B\xE4\xBD\x93"), 9, 12};
}

TemplateFontSpec MsSansSerifFont8()
{
    return {QStringLiteral("MS Sans Serif"), 8, 13};
}

QFont MakeTemplateFont(const TemplateFontSpec& templateFont, const QString& standIn)
{
    QFont font(templateFont.m_face, templateFont.m_pointSize);
    if (QFontInfo(font).family().compare(templateFont.m_face, Qt::CaseInsensitive) == 0)
        return font;
    QFont fallback(standIn);
    // Start at the point size's pixel height at 96 dpi and shrink until the cell fits.
    int pixels = (templateFont.m_pointSize * 96 + 36) / 72;
    fallback.setPixelSize(pixels);
    while (pixels > 6 && QFontMetrics(fallback).height() > templateFont.m_cellHeight)
        fallback.setPixelSize(--pixels);
    return fallback;
}

} // namespace velt
