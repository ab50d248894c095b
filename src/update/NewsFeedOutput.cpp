#include "update/NewsFeedOutput.h"

#include "base/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
QString ErrnoText(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}
} // namespace

NewsFeedOutput::NewsFeedOutput(const QString& path, int lockFd)
    : m_strPath(path), m_file(path), m_lockFd(lockFd) {}

NewsFeedOutput::~NewsFeedOutput() {
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    if (m_finishedFd >= 0)
        ::close(m_finishedFd);
}

std::unique_ptr<NewsFeedOutput> NewsFeedOutput::Open(const QString& path, QString* error) {
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return std::unique_ptr<NewsFeedOutput>();
    };
    if (path.isEmpty())
        return fail(QStringLiteral("No file name is set."));
    // A new account may have no documents folder yet. A folder the user chose is never made
    // up: an unplugged drive must be reported, not mirrored on the local disk.
    if (path == AppPaths::DefaultFeedFile())
        QDir().mkpath(QFileInfo(path).absolutePath());
    // The file that is there is locked, not created: until the run ends, the path holds it
    // or nothing. Opened for writing, so that a file the user may not change is not replaced.
    const int lockFd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (lockFd < 0 && errno != ENOENT)
        return fail(ErrnoText(errno));
    if (lockFd >= 0 && ::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        ::close(lockFd);
        return fail(code == EWOULDBLOCK ? QStringLiteral("The file is in use by another program.")
                                        : ErrnoText(code));
    }
    std::unique_ptr<NewsFeedOutput> output(new NewsFeedOutput(path, lockFd));
    // Holding the lock, no other run writes beside the file: what is there a crash left.
    if (lockFd >= 0)
        AtomicFile::RemoveUnfinished(path);
    if (!output->m_file.Open())
        return fail(output->m_file.ErrorString());
    return output;
}

bool NewsFeedOutput::Close(QString* error) {
    if (m_bClosed)
        return true;
    m_bClosed = true;
    m_finishedFd = ::open(m_file.BesidePath().constData(), O_RDONLY | O_CLOEXEC);
    const bool placed = m_file.Commit();
    if (!placed) {
        if (error)
            *error = m_file.ErrorString();
        if (m_finishedFd >= 0)
            ::close(m_finishedFd);
        m_finishedFd = -1;
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_lockFd = -1;
    return placed;
}
