#include "NewsFeedOutput.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
QString ErrnoText(int code) { return QString::fromLocal8Bit(std::strerror(code)); }
} // namespace

CNewsFeedOutput::CNewsFeedOutput(const QString& path, int fd) : m_strPath(path), m_fd(fd) {}

CNewsFeedOutput::~CNewsFeedOutput() { Close(); }

std::unique_ptr<CNewsFeedOutput> CNewsFeedOutput::Open(const QString& path, QString* error) {
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return nullptr;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("No file name has been set."));
    const QByteArray native = QFile::encodeName(path);
    // Lock before truncating: a reader that holds the file (Send To copying it) keeps what it reads.
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail(ErrnoText(errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        ::close(fd);
        return fail(code == EWOULDBLOCK ? QStringLiteral("The file is in use by another program.") : ErrnoText(code));
    }
    if (::ftruncate(fd, 0) != 0) {
        const int code = errno;
        ::close(fd);
        return fail(ErrnoText(code));
    }
    std::unique_ptr<CNewsFeedOutput> output(new CNewsFeedOutput(path, fd));
    if (!output->m_file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle)) {
        return fail(output->m_file.errorString());
    }
    return output;
}

bool CNewsFeedOutput::Close(QString* error) {
    if (m_fd < 0)
        return true;
    bool ok = true;
    QString why;
    if (m_file.isOpen()) {
        if (!m_file.flush()) {
            ok = false;
            why = m_file.errorString();
        }
        m_file.close();
    }
    // Closing the descriptor releases the lock.
    if (::close(m_fd) != 0 && ok) {
        ok = false;
        why = ErrnoText(errno);
    }
    m_fd = -1;
    if (!ok && error)
        *error = why;
    return ok;
}
