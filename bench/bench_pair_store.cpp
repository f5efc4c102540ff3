#include "launcher/cShell.h"
#include "main_window/frmMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <vector>

// Prints how long the pair table takes to load at start-up and to save at shutdown, and what
// one settings read costs. Each figure is the median of several runs.
namespace {

constexpr int kRuns = 7;

// Processor time of this thread: on a machine that others keep busy it varies far less than the
// elapsed time.
double cpuMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

void fill(frmMain& window, int rows)
{
    for (int i = 0; i < rows; ++i) {
        window.lstPattern->addItem(QStringLiteral("open document number %1").arg(i));
        window.lstCommand->addItem(QStringLiteral("xdg-open /home/user/documents/%1.odt").arg(i));
        window.lstFocus->addItem(QStringLiteral("1"));
    }
}

void measureTable(const QString& path, int rows)
{
    frmMainSeams seams = frmMainSeams::real(std::make_shared<cShell>());
    seams.settingsPath = path;
    std::vector<double> saves, loads, saveCpu, loadCpu;
    for (int run = 0; run < kRuns; ++run) {
        frmMain writer(seams);
        writer.txtPort->setText(QStringLiteral("0"));
        writer.Form_Load();
        for (QListWidget* list : {writer.lstPattern, writer.lstCommand, writer.lstFocus})
            list->clear();
        fill(writer, rows);
        QElapsedTimer timer;
        timer.start();
        double cpu = cpuMilliseconds();
        writer.Form_Unload();
        saves.push_back(timer.nsecsElapsed() / 1e6);
        saveCpu.push_back(cpuMilliseconds() - cpu);

        frmMain reader(seams);
        reader.txtPort->setText(QStringLiteral("0"));
        timer.restart();
        cpu = cpuMilliseconds();
        reader.Form_Load();
        loads.push_back(timer.nsecsElapsed() / 1e6);
        loadCpu.push_back(cpuMilliseconds() - cpu);
        if (reader.lstPattern->count() != rows)
            std::fprintf(stderr, "loaded %d rows instead of %d\n", reader.lstPattern->count(),
                         rows);
    }
    std::printf("%6d rows: load %8.2f ms   save %8.2f ms   (processor time: load %.2f ms, save "
                "%.2f ms)\n",
                rows, median(loads), median(saves), median(loadCpu), median(saveCpu));
}

// Outside a batch every read parses the whole file; inside one it is a lookup.
void measureValueRead(const QString& path, bool inBatch, int reads)
{
    cIniFile ini;
    ini.setPath(path);
    ini.setSection(QStringLiteral("pairs"));
    ini.setKey(QStringLiteral("command100"));
    std::optional<profile::Batch> batch;
    if (inBatch)
        batch.emplace(ini.StartBatch());
    QElapsedTimer timer;
    timer.start();
    qsizetype total = 0;
    for (int i = 0; i < reads; ++i)
        total += ini.Value().size();
    std::printf("one Value read (%s, 32,767 rows): %.2f us (%lld characters read)\n",
                inBatch ? "inside a batch" : "outside a batch", timer.nsecsElapsed() / 1e3 / reads,
                static_cast<long long>(total));
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kormil.ini"));
    // The log echoes to standard error; keep the figures readable.
    std::freopen("/dev/null", "w", stderr);
    for (int rows : {275, 32767})
        measureTable(path, rows);
    measureValueRead(path, true, 100000);
    measureValueRead(path, false, 20);
    return 0;
}
