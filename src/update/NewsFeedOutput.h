#pragma once

#include "base/AtomicFile.h"

#include <QString>

#include <memory>

// The news feed file while a run writes it. The run writes a file beside it, which Close
// renames into place, so that whoever reads the path (Send To, the programs it hands the
// path to) finds a whole file, the old one or the new one. From Open to Close the run holds
// an exclusive advisory lock on the file that was there, so that Send To tells the user an
// update is under way and no other run starts on the same file.
class NewsFeedOutput {
public:
    // A run that ends without Close leaves the file that was there as it was.
    ~NewsFeedOutput();

    NewsFeedOutput(const NewsFeedOutput&) = delete;
    NewsFeedOutput& operator=(const NewsFeedOutput&) = delete;

    // Null, with the reason in `error`, when the file is in use or the file beside cannot be
    // created; the file at `path` is then untouched.
    static std::unique_ptr<NewsFeedOutput> Open(const QString& path, QString* error);

    QString Path() const { return m_strPath; }
    // The file beside, open for writing until Close.
    int Fd() const { return m_file.Handle(); }

    // Puts what was written in place of the news feed file and releases the lock; false,
    // with the reason in `error`, when the data did not reach the disk or the rename failed,
    // which leaves the file that was there.
    bool Close(QString* error = nullptr);
    // After a successful Close, a descriptor open for reading on the file that this run put in
    // place, whatever has taken its path since; -1 otherwise.
    int FinishedFd() const { return m_finishedFd; }

private:
    NewsFeedOutput(const QString& path, int lockFd);

    QString m_strPath;
    AtomicFile m_file;
    int m_lockFd = -1;
    int m_finishedFd = -1;
    bool m_bClosed = false;
};
