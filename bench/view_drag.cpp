// Drops a group of 200 feeds onto another group in a 1,000-feed tree, through the
// view's drag handlers, against the one save of the channel file that every drop ends with.
#include "ModelTestUtil.h"
#include "base/AppPaths.h"
#include "benchsupport.h"
#include "model/PellavoDoc.h"
#include "opmlbaselines.h"
#include "testsupport.h"
#include "view/CPellavoView.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <cstdio>
#include <vector>

using namespace pellavo::bench;

namespace {

constexpr int kMovedFeeds = 200;
constexpr int kOtherGroups = 8;
constexpr int kFeedsPerOtherGroup = 100;
constexpr int kRuns = 11;

QByteArray Feeds(int first, int count) {
    QByteArray out;
    for (int n = first; n < first + count; ++n) {
        const QByteArray number = QByteArray::number(n);
        out += "<outline title=\"Feed " + number + "\" type=\"rss\" htmlurl=\"https://example.org/" + number +
               "\" xmlurl=\"https://example.org/feeds/" + number + ".xml\"/>\r\n";
    }
    return out;
}

// One group of 200 feeds, then eight of 100: 1,000 feeds.
QByteArray ChannelBytes() {
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<opml version=\"1.0\">\r\n<head>\r\n"
                     "<title>News Subscriptions</title>\r\n</head>\r\n<body>\r\n";
    out += "<outline title=\"Moved\">\r\n" + Feeds(0, kMovedFeeds) + "</outline>\r\n";
    for (int g = 0; g < kOtherGroups; ++g)
        out += "<outline title=\"Group " + QByteArray::number(g) + "\">\r\n" +
               Feeds(kMovedFeeds + g * kFeedsPerOtherGroup, kFeedsPerOtherGroup) + "</outline>\r\n";
    return out + "</body>\r\n</opml>\r\n";
}

QTreeWidgetItem* TopGroup(const CPellavoView& view, const QString& title) {
    QTreeWidgetItem* root = view.RootNode();
    for (int i = 0; i < root->childCount(); ++i) {
        if (root->child(i)->text(0) == title)
            return root->child(i);
    }
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never the user's own channel file or backups.
    pellavo::test::prepareEnvironment();
    QApplication app(argc, argv);

    const QString channel = AppPaths::ChannelFile();
    QDir().mkpath(QFileInfo(channel).absolutePath());
    if (!WriteOnce(channel, ChannelBytes())) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(channel));
        return 1;
    }
    CPellavoDoc doc;
    CPellavoView view(&doc);
    view.resize(600, 800);
    {
        pellavo::test::StdoutRedirect quiet;
        view.OnInitialUpdate();
    }
    view.show();
    QCoreApplication::processEvents();

    QTreeWidgetItem* moved = TopGroup(view, QStringLiteral("Moved"));
    const QString targets[] = {QStringLiteral("Group 2"), QStringLiteral("Group 5")};
    std::vector<double> drop, save;
    bool ok = moved != nullptr;
    for (int run = 0; run < kRuns && ok; ++run) {
        QTreeWidgetItem* target = TopGroup(view, targets[run % 2]);
        ok = target != nullptr;
        if (!ok)
            break;
        // A press held long enough to count as a drag.
        view.OnLButtonDown();
        QThread::msleep(100);
        view.OnTreeBeginDrag(moved, view.visualItemRect(view.RootNode()).center());
        view.OnMouseMove(view.visualItemRect(target).center());
        ok = view.IsDragging() && view.DropTarget() == target;
        drop.push_back(timeMs(1, [&] { view.OnLButtonUp(); }).median);
        moved = target->child(target->childCount() - 1);
        ok = ok && moved->childCount() == kMovedFeeds;
        // Collapsed again, the groups keep their rows for the next run.
        target->setExpanded(false);
        QCoreApplication::processEvents();
        save.push_back(timeMs(1, [&] { view.SaveChannel(); }).median);
    }
    if (!ok ||
        view.CollectRunFeeds(view.RootNode()).size() != kMovedFeeds + kOtherGroups * kFeedsPerOtherGroup) {
        std::fprintf(stderr, "the drops did not move the group whole\n");
        return 1;
    }

    const Figure dropFigure = summarise(drop), saveFigure = summarise(save);
    printFigure(QStringLiteral("drop_group_of_200_feeds"), dropFigure, QStringLiteral("ms"));
    printFigure(QStringLiteral("save_channel_1000_feeds"), saveFigure, QStringLiteral("ms"));
    printRatio(QStringLiteral("drop_group_of_200_feeds"), dropFigure.median / saveFigure.median,
               QStringLiteral("drop with its save"), QStringLiteral("the save alone"));
    return 0;
}
