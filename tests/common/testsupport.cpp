#include "testsupport.h"

#include <QDir>
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
    // A runtime folder of this test process alone: the single-instance socket lives
    // there, and a test must neither wake the user's own Pellavo nor a parallel test.
    static const QByteArray runtimeDir =
        QDir::tempPath().toLocal8Bit() + "/pellavo-test-runtime-" + QByteArray::number(getpid());
    mkdir(runtimeDir.constData(), 0700);
    chmod(runtimeDir.constData(), 0700);
    setenv("XDG_RUNTIME_DIR", runtimeDir.constData(), 1);
    std::atexit([] { QDir(QString::fromLocal8Bit(runtimeDir)).removeRecursively(); });
}

QString dataDir() {
    const QString fromEnv = qEnvironmentVariable("PELLAVO_TEST_DATA");
    return fromEnv.isEmpty() ? QStringLiteral(PELLAVO_SOURCE_TEST_DATA) : fromEnv;
}

} // namespace pellavo::test
