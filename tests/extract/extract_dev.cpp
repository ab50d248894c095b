// Finds the article of every page of the development set, writes them to a folder and
// grades them: extract_dev OUT [N] lists the N worst pages too.
#include "DevSet.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: extract_dev OUT [WORST]\n");
        return 2;
    }
    const QString folder = pellavo::devset::Folder();
    if (folder.isEmpty()) {
        std::fprintf(stderr, "extract_dev: the development set is not beside the source tree\n");
        return 1;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    pellavo::devset::ExtractAll(pellavo::devset::LoadPages(folder), out);
    const QString score = pellavo::devset::Score(folder, out, argc > 2 ? atoi(argv[2]) : 0);
    std::printf("%s\n", qPrintable(score));
    return score.isEmpty() ? 1 : 0;
}
