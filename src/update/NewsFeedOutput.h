#pragma once

#include <QString>

#include <memory>

// The news feed file while a run writes it. Opening creates the file or truncates it and
// holds an exclusive advisory lock on it until Close, so that Send To never hands on a
// half-written file.
class NewsFeedOutput {
public:
    ~NewsFeedOutput();

    NewsFeedOutput(const NewsFeedOutput&) = delete;
    NewsFeedOutput& operator=(const NewsFeedOutput&) = delete;

    // Null, with the reason in `error`, when the file cannot be created, locked or truncated.
    static std::unique_ptr<NewsFeedOutput> Open(const QString& path, QString* error);

    QString Path() const { return m_strPath; }
    int Fd() const { return m_fd; }

    // Closes the file, which releases the lock; false, with the reason in `error`, when
    // the system reports that written data did not reach the file.
    bool Close(QString* error = nullptr);

private:
    NewsFeedOutput(const QString& path, int fd) : m_strPath(path), m_fd(fd) {}

    QString m_strPath;
    int m_fd = -1;
};
