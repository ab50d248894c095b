#pragma once

#include "model/OutlineItem.h"

#include <QString>

#include <memory>

class QIODevice;

// Where and why a file broke off; line is 0 when the file could not be opened at all.
struct OpmlParseError {
    qint64 line = 0;
    QString reason;
};

// Destroys whatever `head` and `root` hold, creates a new head and a root titled
// "My Subscriptions", and parses the file into them. Whatever was read before an
// error stays. Returns true when the whole file parsed; otherwise `error` (when
// given) says where and why it broke off.
bool ParseOutlineFile(const QString& path, std::unique_ptr<COutlineHead>& head,
                      std::unique_ptr<COutlineItem>& root, OpmlParseError* error = nullptr);

// Whether the reader writes its trace lines to standard output. Readers of a channel
// file that is not the user's own subscription list (the e-book's table of contents) go quiet.
enum class OpmlTrace { On, Off };

// The same from a device open for reading, which is read in the same chunks. The
// retry with bare ampersands escaped needs a device that can seek back to its start.
bool ParseOutline(QIODevice& in, std::unique_ptr<COutlineHead>& head, std::unique_ptr<COutlineItem>& root,
                  OpmlParseError* error = nullptr, OpmlTrace trace = OpmlTrace::On);
