// The one atomic file write when a step of it fails: the target keeps its old content and
// nothing is left beside it. The C library's write, fsync and rename are defined here, in
// place of the real ones, to fail on demand.
#include "base/AtomicFile.h"
#include "testsupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Which call fails: its name, the numbers of its calls that fail (from 1), and how.
struct Failure {
    std::string call;
    QList<int> numbers;
    int error = 0;
    int seen = 0;
};
Failure g_failure;
bool g_armed = false;

template <typename Function> Function Real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

bool Fails(const char* call) {
    if (!g_armed || g_failure.call != call || !g_failure.numbers.contains(++g_failure.seen))
        return false;
    errno = g_failure.error;
    return true;
}

bool IsRegularFile(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

extern "C" {

ssize_t write(int fd, const void* data, size_t size) {
    static const auto real = Real<decltype(&write)>("write");
    return IsRegularFile(fd) && Fails("write") ? -1 : real(fd, data, size);
}
int fsync(int fd) {
    static const auto real = Real<decltype(&fsync)>("fsync");
    return Fails("fsync") ? -1 : real(fd);
}
int rename(const char* from, const char* to) noexcept {
    static const auto real = Real<decltype(&rename)>("rename");
    return Fails("rename") ? -1 : real(from, to);
}

} // extern "C"

class TestAtomicFile : public QObject {
    Q_OBJECT

private slots:
    void failingSteps_data() {
        QTest::addColumn<int>("options");
        QTest::addColumn<QByteArray>("call");
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("written");
        const int aside = AtomicFile::MoveOldAside;
        QTest::newRow("nothing fails") << 0 << QByteArray() << QList<int>() << 0 << true;
        QTest::newRow("disk full") << 0 << QByteArray("write") << QList<int>{1} << ENOSPC << false;
        QTest::newRow("sync fails") << 0 << QByteArray("fsync") << QList<int>{1} << EIO << false;
        QTest::newRow("no sync on this file system")
            << 0 << QByteArray("fsync") << QList<int>{1} << EINVAL << true;
        QTest::newRow("no sync wanted")
            << int(AtomicFile::NoSync) << QByteArray("fsync") << QList<int>{1, 2} << EIO << true;
        QTest::newRow("rename refused") << 0 << QByteArray("rename") << QList<int>{1} << EBUSY << false;
        QTest::newRow("rename refused, old one moved aside")
            << aside << QByteArray("rename") << QList<int>{1} << EBUSY << true;
        QTest::newRow("moved aside, new one refused too, old one back")
            << aside << QByteArray("rename") << QList<int>{1, 3} << EIO << false;
        QTest::newRow("moved aside refused")
            << aside << QByteArray("rename") << QList<int>{1, 2} << EBUSY << false;
    }
    void failingSteps() {
        QFETCH(int, options);
        QFETCH(QByteArray, call);
        QFETCH(QList<int>, numbers);
        QFETCH(int, error);
        QFETCH(bool, written);
        QTemporaryDir dir;
        const QString target = pellavo::test::writeFile(dir.filePath(QStringLiteral("news.nff")), "old");
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        bool ok;
        int reported;
        {
            AtomicFile file(target, options);
            g_failure = {call.toStdString(), numbers, error, 0};
            g_armed = true;
            ok = file.Open() && file.Write("new") && file.Commit();
            g_armed = false;
            reported = file.Error();
        }
        QCOMPARE(ok, written);
        QCOMPARE(reported, written ? 0 : error);
        QCOMPARE(pellavo::test::readFile(target), QByteArray(written ? "new" : "old"));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"news.nff"});
    }

    void missingFolder() {
        QTemporaryDir dir;
        QString error;
        QVERIFY(!WriteFileAtomically(dir.filePath(QStringLiteral("gone/x")), "new", &error));
        QCOMPARE(error, QString::fromLocal8Bit(std::strerror(ENOENT)));
    }
};

PELLAVO_TEST_MAIN(TestAtomicFile)
#include "tst_AtomicFile.moc"
