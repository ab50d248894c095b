#pragma once

#include "ebook/FeedDocument.h"

#include <QByteArray>
#include <QDateTime>

#include <vector>

namespace edition {

// What an edition takes of a feed's new articles.
struct Limits {
    bool onlyNew = true;  // leave out what the history knows
    int maxArticles = 25; // per feed; 0: no limit
    int maxAgeDays = 7;   // 0: no limit; an undated article is never too old
};

// How the history knows an article within its feed: a 16-byte digest of its guid or Atom id,
// else of its link, else of its title and date.
QByteArray ArticleKey(const ebook::Article& article);
// The key of an article whose guid or Atom id is `id` (not empty).
QByteArray IdKey(const QByteArray& id);

// What goes into the edition of one feed: indices into its articles, newest first by date
// with the undated after the dated in document order, and the new ones the limits leave
// out. `known[i]` says the history has article i already (or it came before in the same
// document under the same key).
struct Choice {
    std::vector<int> chosen;
    std::vector<int> passedOver;
};
Choice ChooseArticles(const std::vector<ebook::Article>& articles, const std::vector<bool>& known,
                      const Limits& limits, const QDateTime& now);

} // namespace edition
