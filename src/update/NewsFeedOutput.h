#pragma once

#include <QFile>
#include <QString>

#include <memory>

// The news feed file while a run writes it. Opening creates the file or truncates it, and
// holds an exclusive advisory lock on it until Close, so that Send To never hands on a
// half-written file. Every write goes straight to the file (no buffer of our own), so one
// record is one write and a write error shows at once.
class CNewsFeedOutput {
public:
    ~CNewsFeedOutput();

    CNewsFeedOutput(const CNewsFeedOutput&) = delete;
    CNewsFeedOutput& operator=(const CNewsFeedOutput&) = delete;

    // Null, with the reason in `error`, when the file cannot be created, truncated or locked.
    static std::unique_ptr<CNewsFeedOutput> Open(const QString& path, QString* error);

    QString Path() const { return m_strPath; }
    QIODevice& Device() { return m_file; }

    // Flushes, unlocks and closes; false, with the reason in `error`, when the last data
    // could not be written.
    bool Close(QString* error = nullptr);
    bool IsOpen() const { return m_file.isOpen(); }

private:
    CNewsFeedOutput(const QString& path, int fd);

    QString m_strPath;
    int m_fd = -1;
    QFile m_file;
};
