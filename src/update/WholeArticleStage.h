#pragma once

#include "ebook/FeedDocument.h"
#include "update/EBookEdition.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>

// The whole articles of one book as it is made (see WholeArticles): the links of the
// articles that go into it are noted feed by feed, fetched all at once, and then each
// feed's summaries give way to the articles found in the pages as its chapter is made.
class WholeArticleStage {
public:
    // `stop` (when given) outlives the stage; once it is set no more pages are read.
    WholeArticleStage(const WholeArticles& wholeArticles, const std::atomic_bool* stop);

    // Whether the feed's articles are to be fetched whole at all.
    bool Wanted(const QString& feedUrl) const;
    // Notes the links of a wanted feed's articles as the book will carry them.
    void Note(const QString& feedUrl, const ebook::Feed& feed);
    // Fetches the pages of the links noted, once they all are.
    void Fetch();
    // Puts in place of each summary of a wanted feed the article found in its page, when
    // that has more text.
    void Complete(const QString& feedUrl, ebook::Feed& feed) const;

private:
    // The articles of a feed whose pages are fetched: those with a link, up to the bound.
    template <typename FeedType, typename Visit> static void ForEachLinked(FeedType& feed, Visit visit);

    const WholeArticles& m_whole;
    const std::atomic_bool* m_stop;
    QStringList m_links;
    QStringList m_feeds;
    QSet<QString> m_noted;
    QHash<QString, ArticlePage> m_pages;
};
