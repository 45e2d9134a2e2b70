// From start to the first painted main window, offscreen: what the program does before its
// window shows (socket layer, skin, the window with its views) until the window's first paint,
// and the same for "veltplayer --demo", whose stand-in server now makes up its matches in the
// background. BM_DemoServerStart is that server's own start, which used to come first.
// Goal: the window within 1 s, with or without --demo.
#include "app/CDemoServer.h"
#include "app/CPlayerApp.h"
#include "platform/UserNotice.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <memory>

namespace
{

using namespace velt;

// Ends the application object's modal window at its first paint. The window's own area is
// covered by its child frame, so the first paint of any widget in it counts.
class CFirstPaintWatch final : public QObject
{
public:
    explicit CFirstPaintWatch(QDialog& window) : m_window(window) { qApp->installEventFilter(this); }
    ~CFirstPaintWatch() override { qApp->removeEventFilter(this); }
    bool Painted() const { return m_painted; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_painted && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->window() == &m_window)
        {
            m_painted = true;
            // After this paint has ended: closing from inside it would cut it short.
            QTimer::singleShot(0, &m_window, [this] { m_window.done(0); });
        }
        return false;
    }

private:
    QDialog& m_window;
    bool m_painted = false;
};

void RunToFirstPaint(benchmark::State& state, bool demo)
{
    for (auto _ : state)
    {
        std::unique_ptr<CDemoServer> server;
        if (demo)
        {
            server = std::make_unique<CDemoServer>();
            server->StartInBackground();
        }
        CRecordingNotice notices;
        CPlayerApp app(ServerAddress{"127.0.0.1", 9}, notices);
        CFirstPaintWatch watch(app.MainDialog());
        app.Run();
        if (!watch.Painted())
            state.SkipWithError("the window was not painted");
        state.PauseTiming();
        server.reset(); // the background start is not the window's time
        state.ResumeTiming();
    }
}

void BM_StartToFirstPaint(benchmark::State& state)
{
    RunToFirstPaint(state, false);
}
BENCHMARK(BM_StartToFirstPaint)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_DemoStartToFirstPaint(benchmark::State& state)
{
    RunToFirstPaint(state, true);
}
BENCHMARK(BM_DemoStartToFirstPaint)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_DemoServerStart(benchmark::State& state)
{
    for (auto _ : state)
    {
        CDemoServer server;
        if (!server.Start())
            state.SkipWithError("the demo server did not start");
    }
}
BENCHMARK(BM_DemoServerStart)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
