#pragma once

#include <QByteArrayView>
#include <QDateTime>

namespace ebook {

// The time a feed gives for an article: RFC 822 as RSS has it ("Tue, 05 Mar 2024 10:00:00
// GMT", with the liberties publishers take: no weekday, two-digit years, zone names,
// missing seconds) or ISO 8601 as Atom and Dublin Core have it. A time without a zone is
// taken as UTC. Invalid when the text is neither.
QDateTime ParseFeedDate(QByteArrayView text);

} // namespace ebook
