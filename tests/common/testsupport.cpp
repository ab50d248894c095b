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
    if (!qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) {
        const QByteArray dir =
            QDir::tempPath().toLocal8Bit() + "/pellavo-test-runtime-" + QByteArray::number(getuid());
        mkdir(dir.constData(), 0700);
        chmod(dir.constData(), 0700);
        setenv("XDG_RUNTIME_DIR", dir.constData(), 1);
    }
}

QString dataDir() {
    const QString fromEnv = qEnvironmentVariable("PELLAVO_TEST_DATA");
    return fromEnv.isEmpty() ? QStringLiteral(PELLAVO_SOURCE_TEST_DATA) : fromEnv;
}

} // namespace pellavo::test
