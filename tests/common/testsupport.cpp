#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace pellavo::test {

void prepareEnvironment() {
    QStandardPaths::setTestModeEnabled(true);
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        unsetenv(name);
    // A home, a runtime and a temporary folder of this test process alone: the settings, the channel
    // file and the single-instance socket live there, so a test never touches the user's
    // own files nor wakes their Pellavo, and no run sees what a parallel or earlier one left.
    static const QByteArray root =
        QDir::tempPath().toLocal8Bit() + "/pellavo-test-" + QByteArray::number(getpid());
    const QByteArray home = root + "/home";
    const QByteArray runtime = root + "/runtime";
    const QByteArray temp = root + "/tmp";
    for (const QByteArray& folder : {root, home, runtime, temp})
        mkdir(folder.constData(), 0700);
    setenv("HOME", home.constData(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.constData(), 1);
    // Backups and downloads in progress go to a private folder under the temporary one.
    setenv("TMPDIR", temp.constData(), 1);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        unsetenv(name);
    // Nothing listens at these bus addresses unless a test starts a daemon of its own there, so
    // no test talks to the desktop services of the user's session.
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + runtime + "/session_bus").constData(), 1);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + runtime + "/system_bus").constData(), 1);
    std::atexit([] { QDir(QString::fromLocal8Bit(root)).removeRecursively(); });
}

QString dataDir() {
    const QString fromEnv = qEnvironmentVariable("PELLAVO_TEST_DATA");
    return fromEnv.isEmpty() ? QStringLiteral(PELLAVO_SOURCE_TEST_DATA) : fromEnv;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray rssFeed(const QByteArray& title, int items, const QByteArray& description) {
    QByteArray body = "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [<!ENTITY a \"b\">]>\n"
                      "<rss version=\"2.0\" xmlns=\"http://backend.userland.com/rss2\"><channel><title>" +
                      title + "</title>\n";
    for (int i = 0; i < items; ++i) {
        body += "<item><title>" + title + ' ' + QByteArray::number(i) + "</title>";
        if (!description.isEmpty())
            body += "<description>" + description + "</description>";
        body += "</item>\n";
    }
    return body + "</channel></rss>\n";
}

} // namespace pellavo::test
