#include "controls/CSkinSplitterWnd.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <ostream>

namespace velt
{
namespace
{

ViewClass PlainView()
{
    return ViewClass{QStringLiteral("CPlainView"), [] { return std::make_unique<QWidget>(); }};
}

ViewClass FailingView()
{
    return ViewClass{QStringLiteral("CFailingView"), [] { return std::unique_ptr<QWidget>(); }};
}

enum class SkinSetup
{
    kNoEngine,
    kEngineWithoutSkin,
    kSkinWithoutSplitterObject,
    kDefaultSkin,
};

// A 300 x 400 host with a two-row splitter as the main window builds it.
class SplitterFixture : public ::testing::Test
{
protected:
    void Build(SkinSetup setup, int topInset = 0, bool topEdgeLine = false)
    {
        if (setup != SkinSetup::kNoEngine)
        {
            m_engine.SkinEngineStart();
            if (setup == SkinSetup::kDefaultSkin)
            {
                ASSERT_EQ(m_engine.SkinEngineOpenResource(QStringLiteral("DEFAULT")), 1);
            }
            if (setup == SkinSetup::kSkinWithoutSplitterObject)
            {
                ASSERT_EQ(
                    OpenSkinText("[Skin]\nFormat=VELT Skin 1\n[MainFrame]\nWindow.Color=#FFFFFF\n"),
                    1);
            }
        }
        m_splitter =
            std::make_unique<CSkinSplitterWnd>(setup == SkinSetup::kNoEngine ? nullptr : &m_engine);
        ASSERT_TRUE(m_splitter->CreateStatic(&m_host, 2, 1));
        m_engine.SkinEngineSubscribe(m_splitter.get(), 0);
        m_splitter->SetTopInset(topInset);
        m_splitter->SetTopEdgeLine(topEdgeLine);
        ASSERT_TRUE(m_splitter->CreateKeyedView(m_splitter->IdFromRowCol(1, 0), PlainView(),
                                                QRect(), true, 3));
        ASSERT_TRUE(m_splitter->CreateKeyedView(m_splitter->IdFromRowCol(0, 0), PlainView(),
                                                QRect(), true, 5));
        m_host.resize(300, 400);
        m_splitter->setGeometry(m_host.rect());
        m_splitter->SetRowInfo(0, 60, 60);
        m_splitter->SetRowInfo(1, 200, 200);
        m_splitter->RecalcLayout();
        m_host.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_host));
    }

    int OpenSkinText(const char* text)
    {
        const QString path = m_dir.filePath(QStringLiteral("test.smf"));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(text);
        file.close();
        return m_engine.SkinEngineOpenFile(path);
    }

    QWidget* Top() const { return m_splitter->GetPane(0, 0); }
    QWidget* Bottom() const { return m_splitter->GetPane(1, 0); }

    void Drag(QPoint from, QPoint to)
    {
        QTest::mousePress(m_splitter.get(), Qt::LeftButton, {}, from);
        QTest::mouseMove(m_splitter.get(), to);
        QTest::mouseRelease(m_splitter.get(), Qt::LeftButton, {}, to);
    }

    QTemporaryDir m_dir;
    CSkinEngine m_engine;
    QWidget m_host;
    std::unique_ptr<CSkinSplitterWnd> m_splitter;
};

struct BarCase
{
    const char* m_name;
    SkinSetup m_setup;
    int m_barSize;
    bool m_skinObject;
};

void PrintTo(const BarCase& c, std::ostream* os)
{
    *os << c.m_name;
}

class BarSizes : public SplitterFixture, public ::testing::WithParamInterface<BarCase>
{
};

TEST_P(BarSizes, DependOnTheSkinAnnouncingItself)
{
    const BarCase& c = GetParam();
    Build(c.m_setup);
    EXPECT_EQ(m_splitter->BarHeight(), c.m_barSize);
    EXPECT_EQ(m_splitter->BarWidth(), c.m_barSize);
    EXPECT_EQ(m_splitter->GapHeight(), c.m_barSize);
    EXPECT_EQ(m_splitter->GapWidth(), c.m_barSize);
    EXPECT_EQ(m_splitter->HasSkinObject(), c.m_skinObject);
    // The command bar row keeps its 60 pixels; the list row starts below the gap.
    EXPECT_EQ(Top()->geometry(), QRect(0, 0, 300, 60));
    EXPECT_EQ(Bottom()->geometry(), QRect(0, 60 + c.m_barSize, 300, 400 - 60 - c.m_barSize));
    ASSERT_EQ(m_splitter->BarRects().size(), 1u);
    EXPECT_EQ(m_splitter->BarRects()[0], QRect(0, 60, 300, c.m_barSize));
}

INSTANTIATE_TEST_SUITE_P(
    Skins, BarSizes,
    ::testing::Values(BarCase{"NoEngine", SkinSetup::kNoEngine, 4, false},
                      BarCase{"NoSkinLoaded", SkinSetup::kEngineWithoutSkin, 4, false},
                      BarCase{"SkinWithoutSplitterObject", SkinSetup::kSkinWithoutSplitterObject,
                              10, false},
                      BarCase{"DefaultSkin", SkinSetup::kDefaultSkin, 10, true}),
    [](const ::testing::TestParamInfo<BarCase>& info) { return std::string(info.param.m_name); });

TEST_F(SplitterFixture, UnlockedBarsCanBeDragged)
{
    Build(SkinSetup::kNoEngine);
    QTest::mouseMove(m_splitter.get(), QPoint(150, 62));
    EXPECT_EQ(m_splitter->cursor().shape(), Qt::SplitVCursor);
    Drag(QPoint(150, 62), QPoint(150, 100));
    EXPECT_EQ(Top()->height(), 98);
}

TEST_F(SplitterFixture, LockedBarsIgnoreTheMouse)
{
    Build(SkinSetup::kDefaultSkin);
    m_splitter->LockBars();
    QTest::mouseMove(m_splitter.get(), QPoint(150, 65));
    EXPECT_EQ(m_splitter->cursor().shape(), Qt::ArrowCursor);
    Drag(QPoint(150, 65), QPoint(150, 120));
    EXPECT_EQ(Top()->height(), 60);
    EXPECT_EQ(Bottom()->y(), 70);
}

TEST_F(SplitterFixture, TopInsetLeavesAStripAndPaintsIt)
{
    Build(SkinSetup::kDefaultSkin, 8, true);
    EXPECT_EQ(Top()->geometry(), QRect(0, 8, 300, 60));
    const QImage image = m_splitter->grab().toImage();
    const QColor background = m_engine.SkinEngineFindObject(QStringLiteral("SkinGfxSplitter1"))
                                  ->m_parts.at(QStringLiteral("Backbround"))
                                  .m_color.value();
    const QColor box = m_engine.SkinEngineFindObject(QStringLiteral("SkinGfxSplitter1"))
                           ->m_parts.at(QStringLiteral("SplitterBox"))
                           .m_color.value();
    EXPECT_EQ(image.pixelColor(150, 5), background);
    EXPECT_EQ(image.pixelColor(150, 8 + 60 + 5), box) << "the bar is drawn from the skin";
    EXPECT_EQ(image.pixel(150, 0), m_splitter->palette().color(QPalette::Dark).rgb())
        << "etched line";
    EXPECT_EQ(image.pixel(150, 1), m_splitter->palette().color(QPalette::Light).rgb());
}

TEST_F(SplitterFixture, WithoutSkinNothingIsPainted)
{
    Build(SkinSetup::kEngineWithoutSkin, 8);
    QImage image(m_splitter->size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    m_splitter->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    EXPECT_EQ(image.pixelColor(150, 4).alpha(), 0) << "strip unpainted";
    EXPECT_EQ(image.pixelColor(150, 8 + 60 + 2).alpha(), 0) << "bar unpainted";
}

TEST_F(SplitterFixture, KeyedViews)
{
    Build(SkinSetup::kNoEngine);
    QWidget* list = m_splitter->FindKeyedView(3);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list, Bottom());
    EXPECT_EQ(m_splitter->FindKeyedView(5), Top());
    EXPECT_EQ(m_splitter->FindKeyedView(4), nullptr);

    EXPECT_FALSE(m_splitter->CreateKeyedView(m_splitter->IdFromRowCol(0, 0), FailingView(), QRect(),
                                             true, 9));
    EXPECT_EQ(m_splitter->FindKeyedView(9), nullptr);
    EXPECT_EQ(m_splitter->GetPane(0, 0), Top()) << "a failed creation leaves the pane alone";

    // Shared key: the view whose pointer sorts first.
    ASSERT_TRUE(
        m_splitter->CreateKeyedView(m_splitter->IdFromRowCol(5, 0), PlainView(), QRect(), true, 3));
    QWidget* second = m_splitter->GetPane(5, 0);
    EXPECT_EQ(m_splitter->FindKeyedView(3), std::less<QWidget*>()(list, second) ? list : second);

    // An invisible view is kept under its pane id.
    ASSERT_TRUE(m_splitter->CreateKeyedView(m_splitter->IdFromRowCol(6, 0), PlainView(), QRect(),
                                            false, 7));
    EXPECT_EQ(m_splitter->FindKeyedView(7), nullptr);
    EXPECT_EQ(m_splitter->FindKeyedView(m_splitter->IdFromRowCol(6, 0)), m_splitter->GetPane(6, 0));

    // A view that goes away is forgotten.
    std::unique_ptr<QWidget> doomed(second);
    doomed.reset();
    EXPECT_EQ(m_splitter->FindKeyedView(3), list);
}

struct LayoutCase
{
    const char* m_name;
    std::vector<RowColInfo> m_rows; // min, ideal
    int m_size;
    std::vector<int> m_expected;
};

void PrintTo(const LayoutCase& c, std::ostream* os)
{
    *os << c.m_name;
}

class RowLayout : public ::testing::TestWithParam<LayoutCase>
{
};

TEST_P(RowLayout, SharesOutTheSize)
{
    const LayoutCase& c = GetParam();
    std::vector<RowColInfo> rows = c.m_rows;
    CSkinSplitterWnd::LayoutRowCol(rows, c.m_size, 4);
    std::vector<int> sizes;
    for (const RowColInfo& row : rows)
        sizes.push_back(row.m_curSize);
    EXPECT_EQ(sizes, c.m_expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, RowLayout,
    ::testing::Values(
        LayoutCase{"Roomy", {{60, 60, 0}, {200, 200, 0}}, 402, {60, 338}},
        LayoutCase{"LastBelowMinimumGivesItsRoomAway", {{60, 60, 0}, {200, 200, 0}}, 150, {148, 0}},
        LayoutCase{"IdealBelowMinimumHides", {{60, 40, 0}, {0, 0, 0}}, 100, {0, 96}},
        LayoutCase{"FirstSqueezed", {{60, 60, 0}, {0, 0, 0}}, 40, {38, 0}},
        LayoutCase{"Nothing", {{60, 60, 0}, {200, 200, 0}}, 0, {0, 0}}),
    [](const ::testing::TestParamInfo<LayoutCase>& info)
    { return std::string(info.param.m_name); });

} // namespace
} // namespace velt
