#include "ebook/DocumentSplit.h"

namespace ebook {

namespace {

struct Open {
    QByteArray name;
    QByteArray start; // the start tag as it opens again: without its id
};

// Where a piece may end: before a tag or text, with the elements open there.
struct Cut {
    qsizetype at;
    std::vector<Open> open;
};

QByteArray Closers(const std::vector<Open>& open) {
    QByteArray out;
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        out.append("</").append(it->name).append('>');
    return out;
}

QByteArray Openers(const std::vector<Open>& open) {
    QByteArray out;
    for (const Open& element : open)
        out.append(element.start);
    return out;
}

QByteArray WithoutId(QByteArrayView tag) {
    const qsizetype id = tag.indexOf(" id=\"");
    if (id < 0)
        return tag.toByteArray();
    const qsizetype end = tag.indexOf('"', id + 5);
    return tag.first(id).toByteArray() + tag.sliced(end + 1).toByteArray();
}

// The last place at or before `at` in text where a cut leaves characters and references
// whole, at a space where one is in the second half.
qsizetype TextCut(QByteArrayView text, qsizetype from, qsizetype at) {
    const qsizetype space = text.lastIndexOf(' ', at);
    if (space > from + (at - from) / 2)
        return space + 1;
    const qsizetype amp = text.lastIndexOf('&', at);
    if (amp > from && text.lastIndexOf(';', at) < amp)
        at = amp;
    while (at > from && (uchar(text[at]) & 0xC0) == 0x80)
        --at;
    return at;
}

} // namespace

std::vector<QByteArray> SplitFragment(QByteArrayView xhtml, qsizetype limit) {
    std::vector<QByteArray> pieces;
    if (xhtml.size() <= limit) {
        pieces.push_back(xhtml.toByteArray());
        return pieces;
    }
    std::vector<Open> open;
    qsizetype closing = 0; // bytes the open elements take to close
    QByteArray prefix;     // what opens the current piece again
    qsizetype start = 0;   // of the current piece in xhtml
    std::vector<Cut> cuts; // since `start`, one per depth: the latest
    const auto finish = [&](const Cut& cut) {
        pieces.push_back(prefix + xhtml.sliced(start, cut.at - start).toByteArray() + Closers(cut.open));
        prefix = Openers(cut.open);
        start = cut.at;
        std::erase_if(cuts, [&](const Cut& c) { return c.at <= start; });
    };
    const auto remember = [&](qsizetype at) {
        const size_t depth = open.size();
        std::erase_if(cuts, [&](const Cut& c) { return c.open.size() >= depth && c.at < at; });
        cuts.push_back({at, open});
    };
    const auto size = [&](qsizetype at) { return prefix.size() + (at - start) + closing; };

    for (qsizetype at = 0; at < xhtml.size();) {
        const bool tag = xhtml[at] == '<';
        qsizetype end = tag ? xhtml.indexOf('>', at) + 1 : xhtml.indexOf('<', at);
        if (end <= 0)
            end = xhtml.size();
        remember(at);
        // What comes next does not fit: end the piece at the shallowest cut that leaves it
        // half full, else at the latest one, else inside this text.
        while (size(end) > limit) {
            const Cut* best = nullptr;
            for (const Cut& cut : cuts) {
                if (cut.at > start && size(cut.at) - closing >= limit / 2 &&
                    (!best || cut.open.size() < best->open.size()))
                    best = &cut;
            }
            for (const Cut& cut : cuts) {
                if (!best && cut.at > start)
                    best = &cut;
                else if (best && cut.at > best->at && size(best->at) - closing < limit / 2)
                    best = &cut;
            }
            if (best) {
                const Cut chosen = *best;
                finish(chosen);
                continue;
            }
            // A tag is never cut; nor is text that leaves nothing before the cut.
            const qsizetype cut =
                tag ? start : TextCut(xhtml, start, start + limit - prefix.size() - closing);
            if (cut <= start)
                break;
            finish({cut, open});
        }
        if (tag) {
            const QByteArrayView text = xhtml.sliced(at, end - at);
            if (text.startsWith("</")) {
                if (!open.empty()) {
                    closing -= open.back().name.size() + 3;
                    open.pop_back();
                }
            } else if (!text.endsWith("/>") && !text.startsWith("<!") && !text.startsWith("<?")) {
                qsizetype name = 1;
                while (name < text.size() && text[name] != ' ' && text[name] != '>' && text[name] != '/')
                    ++name;
                open.push_back({text.sliced(1, name - 1).toByteArray(), WithoutId(text)});
                closing += open.back().name.size() + 3;
            }
        }
        at = end;
    }
    pieces.push_back(prefix + xhtml.sliced(start).toByteArray());
    return pieces;
}

} // namespace ebook
