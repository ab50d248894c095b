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

NewsFeedOutput::~NewsFeedOutput() {
    Close();
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
    const QByteArray native = QFile::encodeName(path);
    // Lock before truncating: a reader that holds the file (Send To copying it) keeps what it reads.
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail(ErrnoText(errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        ::close(fd);
        return fail(code == EWOULDBLOCK ? QStringLiteral("The file is in use by another program.")
                                        : ErrnoText(code));
    }
    if (::ftruncate(fd, 0) != 0) {
        const int code = errno;
        ::close(fd);
        return fail(ErrnoText(code));
    }
    return std::unique_ptr<NewsFeedOutput>(new NewsFeedOutput(path, fd));
}

bool NewsFeedOutput::Close(QString* error) {
    if (m_fd < 0)
        return true;
    const int result = ::close(m_fd);
    m_fd = -1;
    if (result != 0) {
        if (error)
            *error = ErrnoText(errno);
        return false;
    }
    return true;
}
