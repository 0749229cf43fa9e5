// How long the help takes to come up and to turn a page (make bench).
#include "platform/AppInfo.h"
#include "widgets/HelpViewer.h"
#include "widgets/SPHTMLHelp.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <benchmark/benchmark.h>

#include <cstdio>

namespace {
QString helpFile()
{
    const QString env = qEnvironmentVariable("TORNELO_BIN_DIR");
    const QString dir =
        env.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/../bin") : env;
    return QDir(dir).absoluteFilePath(QStringLiteral("tornelo.chm"));
}

void BM_OpenContents(benchmark::State &state)
{
    const QString file = helpFile();
    for (auto _ : state) {
        THelpViewer *v = HtmlHelp(nullptr, file, HH_DISPLAY_TOC);
        benchmark::DoNotOptimize(v);
        HtmlHelp(nullptr, QString(), HH_CLOSE_ALL);
    }
}
BENCHMARK(BM_OpenContents)->Unit(benchmark::kMillisecond);

void BM_TurnPage(benchmark::State &state)
{
    const QString file = helpFile();
    HtmlHelp(nullptr, file, HH_DISPLAY_TOC);
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        benchmark::DoNotOptimize(HtmlHelp(nullptr, file, HH_DISPLAY_TOPIC,
                                          flip ? QStringLiteral("lichtschranke.htm")
                                               : QStringLiteral("starterliste.htm")));
    }
    HtmlHelp(nullptr, QString(), HH_CLOSE_ALL);
}
BENCHMARK(BM_TurnPage)->Unit(benchmark::kMicrosecond);

void BM_ParseIndex(benchmark::State &state)
{
    QString hhk;
    for (int i = 0; i < 500; ++i)
        hhk += QStringLiteral("<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" "
                              "value=\"Stichwort %1\"><param name=\"Local\" value=\"s%1.htm\">"
                              "</OBJECT>\n")
                   .arg(i);
    hhk = QStringLiteral("<UL>") + hhk + QStringLiteral("</UL>");
    for (auto _ : state)
        benchmark::DoNotOptimize(parseSitemap(hhk));
    state.SetItemsProcessed(state.iterations() * 500);
}
BENCHMARK(BM_ParseIndex)->Unit(benchmark::kMicrosecond);
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (!SPHTMLHelp::startup() || !QFile::exists(helpFile())) {
        std::printf("bench_help: needs chmlib and %s\n", qPrintable(helpFile()));
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    SPHTMLHelp::shutdown();
    return 0;
}
