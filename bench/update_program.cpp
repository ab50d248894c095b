// "Update All" of 10,000 feeds as a user runs it: the real program in a real X session
// (Xvfb with openbox), driven from the keyboard through xdotool. It imports an OPML file of
// the feeds (File > Import OPML File, the path typed, Yes), then runs File > Update All Feeds
// and is timed from that key until the news feed file holds every record. nginx serves the
// feeds from four loopback addresses; the baseline is curl's own parallel mode fetching the
// same addresses, 8 at once. Each run starts the program afresh with a home of its own (so
// an empty feed cache), in turns with curl, so that a slow moment weighs on both alike.
// Everything is in memory where the system has a /dev/shm.

#include "RunTestUtil.h"
#include "base/AppPaths.h"
#include "benchsupport.h"
#include "updatebench.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pellavo::bench;

namespace {

constexpr int kFeeds = 10000;
constexpr int kFeedBytes = 20 * 1024;
constexpr int kItems = 12;
constexpr int kAddresses = 4;
constexpr int kFeedsPerGroup = 100;
constexpr int kRuns = 5;

// For profiling the program as the benchmark drives it: PELLAVO_BENCH_RUNS runs instead of
// kRuns, and each program started through the command PELLAVO_BENCH_WRAPPER (split at spaces),
// e.g. "perf record -g -o /tmp/perf.data --".
int Runs() {
    const int runs = qEnvironmentVariableIntValue("PELLAVO_BENCH_RUNS");
    return runs > 0 ? runs : kRuns;
}
// PELLAVO_BENCH_PROGRAM names another build of the program to measure, such as an earlier one.
QString ProgramPath() {
    const QString other = qEnvironmentVariable("PELLAVO_BENCH_PROGRAM");
    return other.isEmpty() ? QStringLiteral(PELLAVO_PROGRAM) : other;
}
QStringList Wrapper() {
    return qEnvironmentVariable("PELLAVO_BENCH_WRAPPER").split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
}

// The feeds in groups of a hundred, as a subscriber of many feeds keeps them.
bool WriteOpml(const QString& path, const QStringList& urls) {
    QByteArray opml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\">\n"
                      "<head><title>Subscriptions</title></head>\n<body>\n";
    for (qsizetype i = 0; i < urls.size(); ++i) {
        if (i % kFeedsPerGroup == 0)
            opml += "<outline title=\"Group " + QByteArray::number(i / kFeedsPerGroup) + "\">\n";
        opml += "<outline title=\"Feed " + QByteArray::number(i) + "\" type=\"rss\" xmlurl=\"" +
                urls[i].toUtf8() + "\"/>\n";
        if (i % kFeedsPerGroup == kFeedsPerGroup - 1 || i == urls.size() - 1)
            opml += "</outline>\n";
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(opml + "</body>\n</opml>\n") > 0;
}

// What says that a file was put in place anew: its inode and its time of change.
QByteArray FileStamp(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QByteArray();
    return QByteArray::number(qulonglong(st.st_ino)) + ':' +
           QByteArray::number(qlonglong(st.st_ctim.tv_sec)) + ':' +
           QByteArray::number(qlonglong(st.st_ctim.tv_nsec));
}

// Waits until the file at `path` is another than `before`; false after `timeoutMs`.
bool WaitForNewFile(const QString& path, const QByteArray& before, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        const QByteArray now = FileStamp(path);
        if (!now.isEmpty() && now != before)
            return true;
        QThread::usleep(1000);
    }
    return false;
}

// The processor time, user and system, of all the threads of the process so far.
double ProcessCpuMs(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // The name in parentheses may hold spaces; utime and stime are the 12th and 13th after it.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) * 1000.0 /
           double(::sysconf(_SC_CLK_TCK));
}

// The processor time of this process's children that have ended.
double ChildrenCpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// An X server of its own with a window manager, and xdotool to drive it.
class XSession {
public:
    ~XSession() {
        for (QProcess* process : {&m_wm, &m_server}) {
            if (process->state() == QProcess::NotRunning)
                continue;
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
            process->waitForFinished();
        }
    }

    bool Start() {
        // Xvfb picks a free display and writes its number to the descriptor it is given.
        m_server.start(QStringLiteral("Xvfb"),
                       {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                        QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                        QStringLiteral("tcp")});
        QByteArray number;
        while (!number.contains('\n') && m_server.waitForReadyRead(10000))
            number += m_server.readAllStandardOutput();
        if (!number.contains('\n'))
            return false;
        m_display = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        m_wm.setProcessEnvironment(env);
        m_wm.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        if (!m_wm.waitForStarted())
            return false;
        // Up once it tells the desktops it manages.
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (Xdo({QStringLiteral("get_num_desktops")}))
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    QString Display() const { return m_display; }

    bool Shown(const QString& title) const { return !WaitForWindow(title, 1000).isEmpty(); }

    // Runs xdotool with `args`; its output, trimmed, or nothing when it failed.
    std::optional<QString> Xdo(const QStringList& args, int timeoutMs = 20000) const {
        QProcess xdo;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        xdo.setProcessEnvironment(env);
        xdo.start(QStringLiteral("xdotool"), args);
        if (!xdo.waitForFinished(timeoutMs)) {
            xdo.kill();
            xdo.waitForFinished();
            return std::nullopt;
        }
        if (xdo.exitStatus() != QProcess::NormalExit || xdo.exitCode() != 0)
            return std::nullopt;
        return QString::fromUtf8(xdo.readAllStandardOutput()).trimmed();
    }

    bool Key(const QString& keys) const { return Xdo({QStringLiteral("key"), keys}).has_value(); }

    // The first visible window titled exactly `title`, once there is one; empty after `timeoutMs`.
    // A search fails now and then when a window goes while it looks (X's BadWindow): it is
    // asked again.
    QString WaitForWindow(const QString& title, int timeoutMs = 20000) const {
        QElapsedTimer timer;
        timer.start();
        do {
            const std::optional<QString> found =
                Xdo({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                     QLatin1Char('^') + title + QLatin1Char('$')});
            if (found && !found->isEmpty())
                return found->section(QLatin1Char('\n'), 0, 0);
            QThread::msleep(50);
        } while (timer.elapsed() < timeoutMs);
        return QString();
    }

private:
    QProcess m_server;
    QProcess m_wm;
    QString m_display;
};

// One user's session of the program: a home of its own under `folder`, where the program's
// settings, channel file, feed cache and news feed file go.
class Program {
public:
    Program(const XSession& x, const QString& folder) : m_x(x) {
        const QString home = folder + QStringLiteral("/home");
        const QString runtime = folder + QStringLiteral("/runtime");
        const QString temp = folder + QStringLiteral("/tmp");
        for (const QString& path : {home, runtime, temp})
            QDir().mkpath(path);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // The bench names the same folders as the program, so that it finds its files.
        qputenv("HOME", QFile::encodeName(home));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
            qunsetenv(name);
        // No desktop services of the user's session: nothing listens at these addresses.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(runtime) + "/session_bus");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // The single-instance socket and the downloads in progress.
        env.insert(QStringLiteral("TMPDIR"), temp);
        env.insert(QStringLiteral("DISPLAY"), x.Display());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        for (const QString& name :
             {QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("XDG_SESSION_TYPE"),
              QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("QT_QPA_PLATFORMTHEME")})
            env.remove(name);
        m_process.setProcessEnvironment(env);
        // The OPML reader traces every attribute on standard output.
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }

    ~Program() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished();
    }

    // Started, with its window up and active. `wrapper` (a command and its first arguments,
    // such as a profiler's) starts the program when given.
    bool Start(const QStringList& wrapper) {
        QStringList command = wrapper;
        command << ProgramPath();
        m_process.start(command.takeFirst(), command);
        if (!m_process.waitForStarted())
            return false;
        const QString window = m_x.WaitForWindow(QStringLiteral("Corvantis - Pellavo"));
        if (window.isEmpty()) {
            Fail("the program's window did not come up");
            return false;
        }
        // The splash screen may take the focus back while it goes: asked again until it holds.
        for (int attempt = 0; attempt < 50; ++attempt) {
            if (m_x.Xdo({QStringLiteral("getactivewindow")}) == window)
                return true;
            m_x.Xdo({QStringLiteral("windowactivate"), window});
            QThread::msleep(200);
        }
        Fail("the program's window did not become active");
        return false;
    }

    // File > Import OPML File, the path typed, Yes to the confirmation; milliseconds from Yes
    // until the subscriptions are saved, -1 when the import did not happen.
    double Import(const QString& opml) {
        if (!m_x.Key(QStringLiteral("alt+f")))
            return -1;
        QThread::msleep(300);
        const QString dialogTitle = QStringLiteral("Import OPML File");
        if (!m_x.Key(QStringLiteral("i")) || m_x.WaitForWindow(dialogTitle).isEmpty()) {
            Fail("the Import OPML File dialog did not come");
            return -1;
        }
        // Keys typed while the dialog still sets itself up can go astray: the path is typed
        // again over what the field holds while the dialog stays. A Return may also only take
        // the completion that the dialog offers for the typed path.
        bool confirming = false;
        for (int attempt = 0; attempt < 4 && !confirming && m_x.Shown(dialogTitle); ++attempt) {
            QThread::msleep(500);
            if (!m_x.Key(QStringLiteral("ctrl+a")) ||
                !m_x.Xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("5"), opml}))
                return -1;
            for (int enter = 0; enter < 2 && !confirming && m_x.Shown(dialogTitle); ++enter)
                confirming = m_x.Key(QStringLiteral("Return")) &&
                             !m_x.WaitForWindow(QStringLiteral("Warning"), 10000).isEmpty();
        }
        if (!confirming) {
            Fail("the import's confirmation did not come");
            return -1;
        }
        const QString channel = AppPaths::ChannelFile();
        const QByteArray before = FileStamp(channel);
        QElapsedTimer timer;
        timer.start();
        if (!m_x.Key(QStringLiteral("Return")) || !WaitForNewFile(channel, before, 120000))
            return -1;
        return double(timer.nsecsElapsed()) / 1e6;
    }

    // File > Update All Feeds; milliseconds from the key until the news feed file is in place,
    // -1 when it did not come. The menu is opened before the clock starts.
    // `cpuMs` gets the processor time that the program used meanwhile, all its threads.
    double UpdateAll(double* cpuMs) {
        if (!m_x.Key(QStringLiteral("alt+f")))
            return -1;
        QThread::msleep(300);
        const QString feedFile = AppPaths::DefaultFeedFile();
        const QByteArray before = FileStamp(feedFile);
        const double cpuBefore = ProcessCpuMs(m_process.processId());
        QElapsedTimer timer;
        timer.start();
        if (!m_x.Key(QStringLiteral("a")) || !WaitForNewFile(feedFile, before, 300000))
            return -1;
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        *cpuMs = ProcessCpuMs(m_process.processId()) - cpuBefore;
        // The dialog tells the end with OK as its default button.
        m_x.WaitForWindow(QStringLiteral("Updating Feeds..."));
        return ms;
    }

private:
    const XSession& m_x;
    QProcess m_process;
};

} // namespace

int main(int argc, char** argv) {
    // Tens of thousands of small files: in memory where the system offers it, for curl and
    // the program alike.
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        qputenv("TMPDIR", "/dev/shm");
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
    QTemporaryDir dir;
    QCoreApplication app(argc, argv);
    // As the program names itself, so that AppPaths finds its files.
    QCoreApplication::setOrganizationName(QString());
    QCoreApplication::setApplicationName(QStringLiteral("Pellavo"));

    Nginx nginx;
    const QStringList urls = ServeFeeds(nginx, dir.path(), kFeeds, kFeedBytes, kItems, kAddresses);
    const QString opml = dir.filePath(QStringLiteral("subscriptions.opml"));
    if (urls.isEmpty() || !WriteOpml(opml, urls)) {
        Fail("cannot serve the feeds");
        return 1;
    }
    XSession x;
    if (!x.Start()) {
        Fail("cannot start Xvfb with openbox");
        return 1;
    }

    std::vector<double> imports, updates, viaCurl, updateCpus, curlCpus;
    const int runs = Runs();
    const QStringList wrapper = Wrapper();
    for (int run = 0; run < runs; ++run) {
        Program program(x, dir.filePath(QStringLiteral("run%1").arg(run)));
        if (!program.Start(wrapper))
            return 1;
        const double import = program.Import(opml);
        if (import < 0) {
            Fail("the import did not happen");
            return 1;
        }
        double updateCpu = 0;
        const double update = program.UpdateAll(&updateCpu);
        if (update < 0) {
            Fail("the news feed file did not come");
            return 1;
        }
        const pellavo::test::NffContent written = pellavo::test::readNff(AppPaths::DefaultFeedFile());
        if (!written.valid || written.urls != urls) {
            std::fprintf(stderr, "the news feed file holds %lld of %d records\n",
                         static_cast<long long>(written.urls.size()), kFeeds);
            return 1;
        }
        imports.push_back(import);
        updates.push_back(update);
        updateCpus.push_back(updateCpu);
        const QString curlFolder = dir.filePath(QStringLiteral("curl%1").arg(run));
        QElapsedTimer timer;
        timer.start();
        const double cpuBefore = ChildrenCpuMs();
        if (!RunCurlParallel(urls, curlFolder, 8)) {
            Fail("curl did not fetch every feed");
            return 1;
        }
        viaCurl.push_back(double(timer.nsecsElapsed()) / 1e6);
        curlCpus.push_back(ChildrenCpuMs() - cpuBefore);
        QDir(curlFolder).removeRecursively();
        std::fprintf(
            stderr,
            "run %d: import %.0f ms, update %.0f ms (processor %.0f ms), curl %.0f ms (processor %.0f ms)\n",
            run, import, update, updateCpu, viaCurl.back(), curlCpus.back());
    }
    const Figure importFigure = summarise(imports);
    const Figure updateFigure = summarise(updates);
    const Figure curlFigure = summarise(viaCurl);
    printFigure(QStringLiteral("program_import_10000"), importFigure, QStringLiteral("ms"));
    printFigure(QStringLiteral("program_update_all_10000"), updateFigure, QStringLiteral("ms"));
    printFigure(QStringLiteral("update_10000_curl_parallel_8"), curlFigure, QStringLiteral("ms"));
    // Processor time does not depend on what else the machine runs as much as the time taken.
    printFigure(QStringLiteral("program_update_all_10000_processor"), summarise(updateCpus),
                QStringLiteral("ms"));
    printFigure(QStringLiteral("update_10000_curl_parallel_8_processor"), summarise(curlCpus),
                QStringLiteral("ms"));
    printRatio(QStringLiteral("program_update_all_10000_vs_curl"), updateFigure.median / curlFigure.median,
               QStringLiteral("the program's Update All, empty cache"),
               QStringLiteral("curl --parallel --parallel-immediate --parallel-max 8"));
    return 0;
}
