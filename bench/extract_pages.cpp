// Finding the article of each of the development set's 467 pages, against gumbo parsing the
// same pages alone, in the same run.

#include "DevSet.h"
#include "benchsupport.h"
#include "ebook/HtmlTree.h"
#include "extract/ArticleFinder.h"

#include <cstdio>

using namespace pellavo::bench;

int main() {
    const QString folder = pellavo::devset::Folder();
    if (folder.isEmpty()) {
        std::printf("skipped: the development set is not beside the source tree\n");
        return 0;
    }
    const std::vector<pellavo::devset::Page> pages = pellavo::devset::LoadPages(folder);
    if (pages.empty()) {
        std::fprintf(stderr, "the development set cannot be read\n");
        return 1;
    }
    constexpr int kRuns = 5;
    int found = 0;
    const Figure parse = timeMs(kRuns, [&] {
        for (const pellavo::devset::Page& page : pages) {
            const ebook::HtmlTree tree(page.bytes);
            found += tree.Root() ? 0 : -1;
        }
    });
    const Figure extract = timeMs(kRuns, [&] {
        for (const pellavo::devset::Page& page : pages)
            found += extract::FindArticle({page.bytes, page.address, {}, {}}) ? 1 : 0;
    });
    printFigure(QStringLiteral("gumbo_parse_%1_pages").arg(pages.size()), parse, QStringLiteral("ms"));
    printFigure(QStringLiteral("find_article_%1_pages").arg(pages.size()), extract, QStringLiteral("ms"));
    printRatio(QStringLiteral("find_article_vs_parse"), extract.median / parse.median,
               QStringLiteral("finding the articles"), QStringLiteral("parsing the pages"));
    std::printf("articles found: %d of %zu pages\n", found / kRuns, pages.size());
    return 0;
}
