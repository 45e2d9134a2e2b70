#include "controls/DialogUnits.h"

#include <QFontInfo>
#include <QFontMetrics>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace velt
{
namespace
{

struct MapCase
{
    DialogBaseUnits m_units;
    QRect m_dialogUnits;
    QRect m_pixels;
};

void PrintTo(const MapCase& c, std::ostream* os)
{
    *os << c.m_dialogUnits.x() << "," << c.m_dialogUnits.y();
}

class DialogRects : public ::testing::TestWithParam<MapCase>
{
};

TEST_P(DialogRects, EachEdgeRoundedLikeMulDiv)
{
    const MapCase& c = GetParam();
    EXPECT_EQ(MapDialogRect(c.m_dialogUnits, c.m_units), c.m_pixels);
}

INSTANTIATE_TEST_SUITE_P(Templates, DialogRects,
                         ::testing::Values(
                             // "System" at 8 x 16: the main window's 340 x 201 units.
                             MapCase{{8, 16}, QRect(0, 0, 340, 201), QRect(0, 0, 680, 402)},
                             // 6 x 12: the Connect button; 154.5 and 7.5 round up, 229.5 too.
                             MapCase{{6, 12}, QRect(103, 5, 50, 17), QRect(155, 8, 75, 25)},
                             // 7 x 13: odd units, 0.5 pixel edges at both ends.
                             MapCase{{7, 13}, QRect(3, 1, 95, 33), QRect(5, 2, 167, 53)},
                             MapCase{{6, 13}, QRect(0, 1, 560, 404), QRect(0, 2, 840, 656)}));

} // namespace

void PrintTo(const TemplateFontSpec& font, std::ostream* os)
{
    *os << font.m_pointSize << "pt";
}

namespace
{

class TemplateFonts : public ::testing::TestWithParam<TemplateFontSpec>
{
};

TEST_P(TemplateFonts, StandInKeepsTheCellHeight)
{
    const TemplateFontSpec templateFont = GetParam();
    const QFont font = MakeTemplateFont(templateFont);
    const bool original =
        QFontInfo(font).family().compare(templateFont.m_face, Qt::CaseInsensitive) == 0;
    if (!original)
    {
        EXPECT_LE(QFontMetrics(font).height(), templateFont.m_cellHeight);
    }
    const DialogBaseUnits units = BaseUnitsOf(font);
    EXPECT_GT(units.m_x, 2);
    EXPECT_LT(units.m_x, units.m_y);
    // Every text of the templates is printable ASCII; a face without these glyphs (or no face at
    // all, as on a platform without fonts) draws boxes.
    const QFontMetrics metrics(font);
    std::string missing;
    for (char c = 0x21; c < 0x7F; ++c)
    {
        if (!metrics.inFontUcs4(static_cast<char32_t>(c)))
            missing.push_back(c);
    }
    EXPECT_EQ(missing, "") << "drawn as boxes in \"" << QFontInfo(font).family().toStdString()
                           << "\"";
}

INSTANTIATE_TEST_SUITE_P(Faces, TemplateFonts,
                         ::testing::Values(SystemFont10(), SongTiFont9(), MsSansSerifFont8()));

} // namespace
} // namespace velt
