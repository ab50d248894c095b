#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <vector>

// The development set of web pages with known articles (../shared/extraction-dev beside the
// source tree): its pages, unpacked, and the scorer that grades what was found in them.
namespace pellavo::devset {

struct Page {
    QString name; // the page's file name without ".gz"
    QUrl address;
    QByteArray bytes;
};

// The folder of the set, or an empty string when this machine does not have it.
QString Folder();

// Every page of the set, in the order of their names. Empty when a page cannot be read.
std::vector<Page> LoadPages(const QString& folder);

// Finds the article of every page and writes it, as the scorer expects, into `out`.
void ExtractAll(const std::vector<Page>& pages, const QString& out);

// The scorer's last line ("pages N precision P recall R f1 F"), or an empty string when it
// could not run. `show` worst pages are listed before it.
QString Score(const QString& folder, const QString& out, int show = 0);

} // namespace pellavo::devset
