// Renders the main window after Connect, with the list from the scripted match server, into a
// PNG for the documentation; --dark first gives the program a dark desktop theme's palette;
// --panel renders the watching panel of a live match being watched instead.
// Usage: main_window_screenshot [--dark] [--panel] OUTPUT.png
#include "DarkPalette.h"
#include "app/CMainDialog.h"
#include "browser/CVELTListView.h"
#include "browser/CVELTTopView.h"
#include "browser/CWatchPanel.h"
#include "server/CMatchServerClient.h"
#include "server/MatchServerMessages.h"
#include "skin/CSkinEngine.h"
#include "tests/doubles/CScriptedMatchServer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>

#include <cstdio>
#include <string>

namespace
{

using namespace velt;

struct SampleMatch
{
    const char* m_name;
    const char* m_players;
    const char* m_map;
    std::uint8_t m_status;
    const char* m_start;
    std::uint32_t m_length;
    const char* m_streamer;
    std::uint32_t m_visits;
    std::uint32_t m_ratings;
    std::uint32_t m_ratingSum;
};

constexpr SampleMatch kSamples[] = {
    {"WCG Final G3", "Grubby(O) vs Moon(N)", "Maps\\(4)TwistedMeadows.w3x", 0, "2009-05-02 21:40",
     1260, "zeno", 912, 40, 183},
    {"Ladder 1v1", "Sky(H) vs Fly(O)", "Maps\\(2)EchoIsles.w3x", 0, "2009-05-02 21:05", 2410,
     "zeno", 310, 12, 47},
    {"Clan war CW2", "TeamA vs TeamB", "Maps\\(4)Download\\NewMap.w3x", 1, "2009-05-02 19:30", 3930,
     "caster", 128, 0, 0},
    {"Cup semi", "ToD(H) vs Lyn(O)", "Maps\\(2)Amazonia.w3x", 1, "2009-05-01 22:10", 1785, "caster",
     540, 21, 80},
    {"Showmatch", "Remind(N) vs Infi(H)", "Maps\\(4)TwistedMeadows.w3x", 2, "2009-05-01 20:00", 95,
     "zeno", 44, 2, 6},
    {"Ladder 2v2", "Duo vs Pair", "Maps\\(4)LostTemple.w3x", 1, "2009-04-30 18:45", 2875, "rookie",
     0, 0, 0},
};

bool InstallMap(const QString& folder, const char* map)
{
    QString relative = QString::fromLatin1(map);
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString path = folder + QLatin1Char('/') + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

// The first match of the list, live, watched at 12:30 of 21:00 with 3 minutes held ahead, 20 s
// behind live by choice, at 2x.
QPixmap WatchPanelShot(QWidget& dialog)
{
    HostStatus status;
    status.m_sessionActive = true;
    status.m_inGame = true;
    status.m_live = true;
    status.m_state = FeedState::kPlay;
    status.m_gameTimeMs = 750000;
    status.m_bufferedAheadMs = 180000;
    status.m_matchSeconds = kSamples[0].m_length;
    status.m_bytesHeld = 1300000;
    status.m_liveDelaySeconds = 20;
    status.m_speed = 2;
    CWatchPanel panel(QString::fromLatin1(kSamples[0].m_name), {}, {}, {}, &dialog);
    panel.Show(BuildSteeringModel(status, true));
    panel.adjustSize();
    panel.show();
    QApplication::processEvents();
    return panel.grab();
}

} // namespace

int main(int argc, char** argv)
{
    bool dark = false;
    bool panel = false;
    for (int i = 1; i + 1 < argc; ++i)
    {
        dark = dark || std::string(argv[i]) == "--dark";
        panel = panel || std::string(argv[i]) == "--panel";
    }
    if (argc < 2 || argc > 4 || argc - 2 != int(dark) + int(panel))
    {
        std::fprintf(stderr, "usage: main_window_screenshot [--dark] [--panel] OUTPUT.png\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[argc - 1]);
    QApplication application(argc, argv);
    if (dark)
        QApplication::setPalette(DarkDesktopPalette());
    CScriptedMatchServer server;
    CScriptedMatchServer::ListScript script;
    std::uint32_t id = 100;
    for (const SampleMatch& sample : kSamples)
    {
        CMatchInfo info;
        info.m_matchId = ++id;
        info.m_matchName = sample.m_name;
        info.m_playersInfo = sample.m_players;
        info.m_mapPath = sample.m_map;
        info.m_status = sample.m_status;
        info.m_startTime = sample.m_start;
        info.m_length = sample.m_length;
        info.m_streamer = sample.m_streamer;
        script.m_frames.push_back(BuildMatchRecord(info));
        if (sample.m_visits != 0)
            script.m_frames.push_back(BuildMatchStats(
                MatchStats{sample.m_visits, sample.m_ratings, sample.m_ratingSum, id, 0}));
    }
    server.SetListScript(std::move(script));
    QTemporaryDir warcraft;
    for (const SampleMatch& sample : kSamples)
    {
        if (std::string(sample.m_map).find("Download") == std::string::npos)
            InstallMap(warcraft.path(), sample.m_map);
    }
    // The settings that Connect reads: the folder with the maps.
    QTemporaryDir settings;
    QFile ini(settings.filePath(QStringLiteral("VELT.ini")));
    if (!server.Start() || !ini.open(QIODevice::WriteOnly))
    {
        std::fprintf(stderr, "main_window_screenshot: no scripted server or settings\n");
        return 1;
    }
    ini.write("[SETTINGS]\r\nwarcraftpath=" + warcraft.path().toLocal8Bit() + "/\r\n");
    ini.close();

    CRecordingNotice notices;
    DesktopSeams seams;
    seams.m_notices = &notices;
    seams.m_settingsFolder = settings.path().toStdString();
    CSkinEngine skin;
    skin.SkinEngineStart();
    skin.SkinEngineOpenResource(QStringLiteral("DEFAULT"));
    skin.SkinEngineDialogLook(QStringLiteral("MainFrame"));
    CMainDialog dialog(&skin, ServerAddress{"127.0.0.1", server.Port()}, seams);
    skin.SkinEngineAttach(&dialog, QStringLiteral("MainFrame"));
    dialog.CreateContents();
    dialog.show();
    dialog.TopView()->OnConnect();
    QApplication::processEvents();
    if (dialog.ListView()->List().GetItemCount() == 0 || !notices.Texts().empty())
    {
        std::fprintf(stderr, "main_window_screenshot: Connect did not list the matches\n");
        return 1;
    }
    const bool saved = (panel ? WatchPanelShot(dialog) : dialog.grab()).save(output, "PNG");
    server.Stop();
    return saved ? 0 : 1;
}
