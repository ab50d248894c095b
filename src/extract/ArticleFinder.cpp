#include "extract/ArticleFinder.h"

#include "base/XmlText.h"
#include "ebook/HtmlTree.h"
#include "extract/PageEncoding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstring>
#include <vector>

namespace extract {

namespace {

// Past this depth of open elements a page is cut: the tree builder's time grows with the
// square of the nesting, and no real page comes near it.
constexpr int kMaxNesting = 4000;
// A block of fewer characters than this is no paragraph of an article.
constexpr int kParagraphMinimum = 25;
// A header with a paragraph this long holds the article's introduction.
constexpr int kIntroduction = 100;
// What an element's name says of it counts in proportion to its text, in full from this
// length on: a short box named "article" or "text" is a teaser, not the article.
constexpr int kNamedMinimum = 1500;
// An element with no more text than this may be a picture's credit.
constexpr int kCreditLine = 150;
// A paragraph shorter than this that is mostly a link points to another article ("Read also: ...").
constexpr int kReadAlso = 200;
// A teaser of another article is no longer than this.
constexpr int kCardText = 700;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The tag name at `at` (just past '<' or "</"), lower case.
QByteArray TagName(QByteArrayView html, qsizetype at) {
    qsizetype end = at;
    while (end < html.size() && end - at < 16 &&
           (IsLetter(html[end]) || (html[end] >= '0' && html[end] <= '9')))
        ++end;
    return html.sliced(at, end - at).toByteArray().toLower();
}

// Elements that never hold others open: void elements and those the next of their kind closes.
bool OpensNoLevel(const QByteArray& name) {
    static const char* const kNames[] = {"area",   "base",  "br",     "col",   "embed",    "hr",       "img",
                                         "input",  "link",  "meta",   "param", "source",   "track",    "wbr",
                                         "p",      "li",    "dt",     "dd",    "tr",       "td",       "th",
                                         "option", "thead", "tbody",  "tfoot", "colgroup", "optgroup", "rb",
                                         "rt",     "rp",    "keygen", "html",  "head",     "body"};
    for (const char* known : kNames)
        if (name == known)
            return true;
    return false;
}

// The page up to where its tags, counted the simple way, nest deeper than kMaxNesting. The
// count overestimates (a missing end tag counts forever), which only makes the cut earlier.
QByteArrayView BoundNesting(QByteArrayView html) {
    int depth = 0;
    for (qsizetype at = html.indexOf('<'); at >= 0 && at + 1 < html.size(); at = html.indexOf('<', at + 1)) {
        const char next = html[at + 1];
        if (next == '!') {
            if (html.sliced(at).startsWith("<!--")) {
                const qsizetype end = html.indexOf("-->", at + 4);
                if (end < 0)
                    break;
                at = end;
            }
            continue;
        }
        if (next == '/') {
            if (at + 2 < html.size() && IsLetter(html[at + 2]) && !OpensNoLevel(TagName(html, at + 2)))
                depth = qMax(0, depth - 1);
            continue;
        }
        if (!IsLetter(next))
            continue;
        const QByteArray name = TagName(html, at + 1);
        if (name == "script" || name == "style" || name == "textarea" || name == "title" || name == "xmp") {
            // Their text is no markup: skip to their end tag.
            const qsizetype end = html.indexOf(QByteArray("</" + name), at + 1);
            if (end < 0) {
                // Case differs, or the element is never closed: look once without case.
                const qsizetype lower = html.sliced(at + 1).toByteArray().toLower().indexOf("</" + name);
                if (lower < 0)
                    break;
                at = at + 1 + lower;
            } else {
                at = end;
            }
            continue;
        }
        if (OpensNoLevel(name))
            continue;
        const qsizetype close = html.indexOf('>', at);
        if (close > 0 && html[close - 1] == '/')
            continue;
        if (++depth > kMaxNesting)
            return html.first(at);
    }
    return html;
}

// Characters of text with runs of spaces counted as one; commas (Latin and CJK) counted aside.
int Weigh(const char* text, int& commas) {
    int count = 0;
    bool space = true;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        const unsigned char c = *p;
        if ((c & 0xC0) == 0x80)
            continue;
        if (IsSpace(char(c))) {
            if (!space)
                ++count;
            space = true;
            continue;
        }
        space = false;
        ++count;
        if (c == ',')
            ++commas;
        else if (c == 0xEF && p[1] == 0xBC && p[2] == 0x8C) // fullwidth comma
            ++commas;
        else if (c == 0xE3 && p[1] == 0x80 && (p[2] == 0x81 || p[2] == 0x82)) // ideographic comma, full stop
            ++commas;
    }
    return count - (space && count > 0 ? 1 : 0);
}

bool IsInline(GumboTag tag) {
    switch (tag) {
    case GUMBO_TAG_A:
    case GUMBO_TAG_ABBR:
    case GUMBO_TAG_B:
    case GUMBO_TAG_BDI:
    case GUMBO_TAG_BDO:
    case GUMBO_TAG_BIG:
    case GUMBO_TAG_BR:
    case GUMBO_TAG_CITE:
    case GUMBO_TAG_CODE:
    case GUMBO_TAG_DATA:
    case GUMBO_TAG_DFN:
    case GUMBO_TAG_EM:
    case GUMBO_TAG_FONT:
    case GUMBO_TAG_I:
    case GUMBO_TAG_IMG:
    case GUMBO_TAG_KBD:
    case GUMBO_TAG_MARK:
    case GUMBO_TAG_NOBR:
    case GUMBO_TAG_Q:
    case GUMBO_TAG_S:
    case GUMBO_TAG_SAMP:
    case GUMBO_TAG_SMALL:
    case GUMBO_TAG_SPAN:
    case GUMBO_TAG_STRIKE:
    case GUMBO_TAG_STRONG:
    case GUMBO_TAG_SUB:
    case GUMBO_TAG_SUP:
    case GUMBO_TAG_TIME:
    case GUMBO_TAG_TT:
    case GUMBO_TAG_U:
    case GUMBO_TAG_VAR:
    case GUMBO_TAG_WBR:
    case GUMBO_TAG_INS:
    case GUMBO_TAG_DEL:
    case GUMBO_TAG_LABEL:
        return true;
    default:
        return false;
    }
}

// Elements that are never part of an article, with everything in them.
bool IsNeverContent(GumboTag tag) {
    switch (tag) {
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_FRAME:
    case GUMBO_TAG_FRAMESET:
    case GUMBO_TAG_OBJECT:
    case GUMBO_TAG_EMBED:
    case GUMBO_TAG_SVG:
    case GUMBO_TAG_MATH:
    case GUMBO_TAG_CANVAS:
    case GUMBO_TAG_BUTTON:
    case GUMBO_TAG_SELECT:
    case GUMBO_TAG_TEXTAREA:
    case GUMBO_TAG_INPUT:
    case GUMBO_TAG_MENU:
    case GUMBO_TAG_AUDIO:
    case GUMBO_TAG_VIDEO:
    case GUMBO_TAG_MAP:
        return true;
    default:
        return false;
    }
}

enum class Drop : uchar {
    None,
    Weak,   // page furniture by its name or tag, unless it holds most of the page
    Strong, // comments, sharing, related articles, notices: never the article
};

// What the words of an element's class, id and role say about it.
struct Hint {
    Drop drop = Drop::None;
    int weight = 0;
    bool body = false;   // named as the body of an article
    bool header = false; // named as a header
};

// Words that mark what is never the article, anywhere in a class or id word.
const char* const kStrongParts[] = {
    "comment",    "share",           "sharing",        "social",     "related",       "cookie",
    "consent",    "newsletter",      "subscri",        "breadcrumb", "disqus",        "outbrain",
    "taboola",    "advert",          "sponsor",        "signup",     "recommend",     "popup",
    "gdpr",       "byline",          "dateline",       "timestamp",  "crumb",         "credit",
    "copyright",  "visually-hidden", "visuallyhidden", "sr-only",    "screen-reader", "disclosure",
    "disclaimer", "kommentar",       "komentarz",      "comentario", "abonn"};
// Words that mark page furniture, anywhere in a word.
const char* const kWeakParts[] = {"sidebar",  "footer",     "navbar",  "navigation", "menu",
                                  "masthead", "pagination", "toolbar", "copyright"};
// Words that mark page furniture at the start of a word ("promo", not "promoted").
const char* const kWeakPrefixes[] = {"author", "login", "modal", "overlay", "banner"};
// Words that mark what the page hides, at the start of a word ("hidden-xs", "hideCompletely").
const char* const kStrongPrefixes[] = {"hide"};
// Short words that mark page furniture only as a whole word.
const char* const kWeakWords[] = {
    "nav",    "ad",     "ads",   "header", "aside",     "meta",   "date", "tags",  "tag",   "skip", "promo",
    "rating", "search", "pager", "share",  "published", "posted", "time", "tools", "links", "more", "source"};
// Words of the article itself.
const char* const kGoodWords[] = {"article", "content",     "entry",    "post",    "main",
                                  "body",    "text",        "story",    "blog",    "prose",
                                  "hentry",  "articlebody", "postbody", "richtext"};

void Lower(QByteArray& out, const char* value) {
    if (!value)
        return;
    out.append(' ');
    for (const char* p = value; *p; ++p)
        out.append(char(*p >= 'A' && *p <= 'Z' ? *p + 32 : *p));
}

// The names content management systems give the body of an article: "entry-content",
// "post_body", "articleText", "story-body".
bool IsBodyName(const QByteArray& words) {
    static const char* const kWhose[] = {"article", "entry", "post", "story", "news", "blog"};
    static const char* const kWhat[] = {"content", "body", "text"};
    for (const char* whose : kWhose) {
        for (qsizetype at = words.indexOf(whose); at >= 0; at = words.indexOf(whose, at + 1)) {
            qsizetype next = at + qsizetype(strlen(whose));
            while (next < words.size() && (words[next] == '-' || words[next] == '_'))
                ++next;
            for (const char* what : kWhat)
                if (QByteArrayView(words).sliced(next).startsWith(what))
                    return true;
        }
    }
    return false;
}

bool IsTaxonomy(const QByteArray& word) {
    static const char* const kPrefixes[] = {"tag-",    "tags-", "category-", "categories-",
                                            "postid-", "has-",  "status-",   "format-",
                                            "type-",   "is-",   "single-"};
    for (const char* prefix : kPrefixes)
        if (word.startsWith(prefix))
            return true;
    return false;
}

Hint HintOf(const GumboNode* node) {
    Hint hint;
    QByteArray words;
    Lower(words, ebook::Attribute(node, "class"));
    Lower(words, ebook::Attribute(node, "id"));
    const char* itemprop = ebook::Attribute(node, "itemprop");
    if (itemprop && (strstr(itemprop, "articleBody") || strstr(itemprop, "text"))) {
        hint.weight += 50;
        hint.body = true;
    }
    QByteArray role;
    Lower(role, ebook::Attribute(node, "role"));
    role = role.trimmed();
    if (role == "navigation" || role == "banner" || role == "contentinfo" || role == "complementary" ||
        role == "search" || role == "menu" || role == "menubar" || role == "dialog" || role == "alert")
        hint.drop = Drop::Weak;
    else if (role == "main" || role == "article")
        hint.weight += 25;
    if (ebook::Attribute(node, "hidden"))
        hint.drop = Drop::Strong;
    if (const char* style = ebook::Attribute(node, "style")) {
        QByteArray css;
        Lower(css, style);
        css.replace(" ", "");
        if (css.contains("display:none") || css.contains("visibility:hidden"))
            hint.drop = Drop::Strong;
    }
    if (words.isEmpty())
        return hint;
    bool good = false;
    bool bad = false;
    for (QByteArray word : words.split(' ')) {
        // Content management systems name an article's categories, tags and states in its
        // classes ("tag-social-media"): those words say nothing about the element.
        if (word.isEmpty() || IsTaxonomy(word))
            continue;
        for (const char* part : kStrongParts) {
            if (word.contains(part)) {
                hint.drop = Drop::Strong;
                bad = true;
            }
        }
        // A variant's name after "--" says what the element holds or where it sits, not what
        // it is ("report__section--ads", "content__row--sidebar"): only what is never the
        // article counts there.
        if (const qsizetype variant = word.indexOf("--"); variant > 0 && word.indexOf("__") > 0)
            word.truncate(variant);
        for (const char* part : kWeakParts) {
            if (word.contains(part)) {
                hint.drop = qMax(hint.drop, Drop::Weak);
                bad = true;
            }
        }
        // Words of words: "post-meta", "site_header", "adBox".
        for (const QByteArray& piece : word.split('-')) {
            for (const QByteArray& part : piece.split('_')) {
                for (const char* weak : kWeakPrefixes) {
                    if (part.startsWith(weak)) {
                        hint.drop = qMax(hint.drop, Drop::Weak);
                        bad = true;
                    }
                }
                for (const char* strong : kStrongPrefixes) {
                    if (part.startsWith(strong)) {
                        hint.drop = Drop::Strong;
                        bad = true;
                    }
                }
                hint.header = hint.header || part == "header";
                for (const char* weak : kWeakWords) {
                    if (part == weak) {
                        hint.drop = qMax(hint.drop, Drop::Weak);
                        bad = true;
                    }
                }
                for (const char* fine : kGoodWords)
                    good = good || part == fine;
            }
        }
    }
    hint.weight += (good ? 25 : 0) - (bad ? 25 : 0);
    hint.body = hint.body || (hint.drop == Drop::None && IsBodyName(words));
    return hint;
}

struct Node {
    const GumboNode* element;
    int parent;
    GumboTag tag;
    int end = 0; // past the last element of its subtree in the flat list
    Drop drop = Drop::None;
    bool dropped = false;   // itself or an ancestor
    bool body = false;      // named as an article's body
    bool holdsBody = false; // itself or a descendant
    int weight = 0;
    // Of the element's own text nodes.
    int ownText = 0;
    int ownLinkText = 0;
    int ownCommas = 0;
    // Of the subtree.
    int text = 0;
    int linkText = 0;
    int images = 0;
    // Of the paragraph the element makes with its inline content.
    int inlineText = 0;
    int inlineLinkText = 0;
    int commas = 0;
    int longest = 0;     // the longest paragraph inside, without its links
    bool header = false; // the head of a page or of an article
    double score = 0;
    bool scored = false;
    double content = 0; // the scores of all paragraphs inside, undiminished
};

struct PageFacts {
    QByteArray title;
    QByteArray ogTitle;
    QByteArray baseHref;
    std::vector<QByteArray> jsonLd;
};

class Finder {
public:
    explicit Finder(const GumboNode* root) { Flatten(root); }

    const PageFacts& Facts() const { return m_facts; }

    // The elements that hold the article, in document order; empty when there is none.
    std::vector<int> Choose() {
        Sum(false);
        MarkDropped();
        Sum(true);
        return Candidates();
    }

    QByteArray Html(const std::vector<int>& roots, const QByteArray& title) const;

    // Keeps the lists of links inside the article: it is one.
    void KeepLinks() { m_linkList = true; }

private:
    void Flatten(const GumboNode* root);
    void Sum(bool clean);
    void MarkDropped();
    std::vector<int> Candidates();
    double Final(int i) const {
        const Node& node = m_nodes[size_t(i)];
        const double density = node.text > 0 ? double(node.linkText) / node.text : 0;
        return node.score * (1 - density);
    }
    double LinkDensity(int i) const {
        const Node& node = m_nodes[size_t(i)];
        return node.text > 0 ? double(node.linkText) / node.text : 0;
    }
    bool Skipped(int i, const QByteArray& title) const;
    bool IsCardList(int i) const;
    bool HoldsTeasers(int i) const;
    bool IsHeading(int i) const {
        const GumboTag tag = m_nodes[size_t(i)].tag;
        return tag >= GUMBO_TAG_H1 && tag <= GUMBO_TAG_H6;
    }
    std::vector<char> Kept(const std::vector<int>& roots, const QByteArray& title) const;
    // A heading that titles what follows; a long one is the article's introduction.
    bool IsTitle(int i) const {
        const Node& node = m_nodes[size_t(i)];
        return node.tag >= GUMBO_TAG_H1 && node.tag <= GUMBO_TAG_H6 && node.text < 80;
    }
    bool IsInside(int inner, int outer) const { return inner > outer && inner < m_nodes[size_t(outer)].end; }
    void Start(QByteArray& out, int i) const;

    std::vector<Node> m_nodes;
    bool m_linkList = false; // the article is a list of links: its links stay
    PageFacts m_facts;
};

QByteArray TextOf(const GumboNode* node) {
    QByteArray text;
    std::vector<const GumboNode*> pending{node};
    while (!pending.empty()) {
        const GumboNode* current = pending.back();
        pending.pop_back();
        if (current->type == GUMBO_NODE_TEXT || current->type == GUMBO_NODE_WHITESPACE ||
            current->type == GUMBO_NODE_CDATA) {
            text.append(current->v.text.text);
        } else if (current->type == GUMBO_NODE_ELEMENT) {
            const GumboVector& children = current->v.element.children;
            for (unsigned i = children.length; i-- > 0;)
                pending.push_back(static_cast<const GumboNode*>(children.data[i]));
        }
    }
    return text;
}

void Finder::Flatten(const GumboNode* root) {
    struct Open {
        const GumboNode* node;
        int index;
        unsigned next;
        bool inLink;
        bool inHead;
    };
    std::vector<Open> stack;
    m_nodes.push_back({root, -1, root->v.element.tag});
    stack.push_back({root, 0, 0, false, false});
    while (!stack.empty()) {
        Open& open = stack.back();
        const GumboVector& children = open.node->v.element.children;
        if (open.next == children.length) {
            if (open.node->v.element.tag != GUMBO_TAG_HEAD)
                m_nodes[size_t(open.index)].end = int(m_nodes.size());
            stack.pop_back();
            continue;
        }
        const auto* child = static_cast<const GumboNode*>(children.data[open.next++]);
        const int parent = open.index;
        const bool inLink = open.inLink;
        const bool inHead = open.inHead;
        if (inHead && child->type != GUMBO_NODE_ELEMENT)
            continue;
        if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_CDATA) {
            Node& node = m_nodes[size_t(parent)];
            const int length = Weigh(child->v.text.text, node.ownCommas);
            node.ownText += length;
            if (inLink)
                node.ownLinkText += length;
            continue;
        }
        if (child->type == GUMBO_NODE_WHITESPACE) {
            m_nodes[size_t(parent)].ownText += 1;
            continue;
        }
        if (child->type != GUMBO_NODE_ELEMENT)
            continue;
        const GumboTag tag = child->v.element.tag;
        if (tag == GUMBO_TAG_TITLE && m_facts.title.isEmpty()) {
            m_facts.title = TextOf(child);
        } else if (tag == GUMBO_TAG_BASE && m_facts.baseHref.isEmpty()) {
            if (const char* href = ebook::Attribute(child, "href"))
                m_facts.baseHref = href;
        } else if (tag == GUMBO_TAG_META) {
            const char* property = ebook::Attribute(child, "property");
            const char* content = ebook::Attribute(child, "content");
            if (property && content && qstricmp(property, "og:title") == 0)
                m_facts.ogTitle = content;
        } else if (tag == GUMBO_TAG_SCRIPT) {
            const char* type = ebook::Attribute(child, "type");
            if (type && strstr(type, "ld+json"))
                m_facts.jsonLd.push_back(TextOf(child));
        }
        if (tag == GUMBO_TAG_HEAD)
            stack.push_back({child, parent, 0, false, true}); // for its title, base and meta
        if (inHead || IsNeverContent(tag))
            continue;
        if (child->v.element.tag_namespace != GUMBO_NAMESPACE_HTML)
            continue;
        const int index = int(m_nodes.size());
        Node node{child, parent, tag};
        const Hint hint = HintOf(child);
        node.drop = hint.drop;
        node.weight = hint.weight;
        node.body = hint.body;
        node.header = hint.header;
        switch (tag) {
        case GUMBO_TAG_HEADER:
            node.header = true;
            node.drop = qMax(node.drop, Drop::Weak);
            break;
        case GUMBO_TAG_NAV:
        case GUMBO_TAG_ASIDE:
        case GUMBO_TAG_FOOTER:
        case GUMBO_TAG_FORM:
            node.drop = qMax(node.drop, Drop::Weak);
            break;
        case GUMBO_TAG_ARTICLE:
        case GUMBO_TAG_MAIN:
            node.weight += 10;
            break;
        case GUMBO_TAG_IMG:
            node.images = 1;
            break;
        default:
            break;
        }
        m_nodes.push_back(node);
        stack.push_back({child, index, 0, inLink || tag == GUMBO_TAG_A, false});
    }
}

// Adds up text and links from the leaves to the root; `clean` leaves out what is dropped.
void Finder::Sum(bool clean) {
    for (Node& node : m_nodes) {
        const bool out = clean && node.dropped;
        node.text = out ? 0 : node.ownText;
        node.linkText = out ? 0 : node.ownLinkText;
        node.inlineText = node.text;
        node.inlineLinkText = node.linkText;
        node.commas = out ? 0 : node.ownCommas;
        node.images = !out && node.tag == GUMBO_TAG_IMG ? 1 : 0;
        node.holdsBody = node.body;
        node.longest = 0;
    }
    for (size_t i = m_nodes.size(); i-- > 1;) {
        const Node& node = m_nodes[i];
        if (clean && node.dropped)
            continue;
        Node& parent = m_nodes[size_t(node.parent)];
        if (!IsInline(node.tag))
            m_nodes[i].longest = qMax(node.longest, node.inlineText - node.inlineLinkText);
        parent.longest = qMax(parent.longest, node.longest);
        parent.text += node.text;
        parent.linkText += node.linkText;
        parent.images += node.images;
        parent.holdsBody = parent.holdsBody || node.holdsBody;
        if (IsInline(node.tag)) {
            parent.inlineText += node.inlineText;
            parent.inlineLinkText += node.inlineLinkText;
            parent.commas += node.commas;
        }
    }
}

// Furniture by name or tag goes, unless it holds the article's body, or by a weak name
// most of the page: then the name is the layout's ("content-sidebar-wrap", "body
// class=cookies-not-set"), not the furniture's.
void Finder::MarkDropped() {
    const auto share = [](const Node& node) { return node.text - node.linkText; };
    const int total = qMax(1, share(m_nodes.front()));
    for (size_t i = 1; i < m_nodes.size(); ++i) {
        Node& node = m_nodes[i];
        if (node.tag == GUMBO_TAG_ARTICLE && share(node) * 4 > total)
            node.body = true;
    }
    for (size_t i = m_nodes.size(); i-- > 1;) {
        if (m_nodes[i].body)
            m_nodes[i].holdsBody = true;
        if (m_nodes[i].holdsBody)
            m_nodes[size_t(m_nodes[i].parent)].holdsBody = true;
    }
    // The article around each element, if any: the nearest ancestor named its body.
    std::vector<int> scope(m_nodes.size(), 0);
    for (size_t i = 1; i < m_nodes.size(); ++i) {
        Node& node = m_nodes[i];
        const int parent = node.parent;
        scope[i] = m_nodes[size_t(parent)].body ? parent : scope[size_t(parent)];
        const int around = qMax(1, share(m_nodes[size_t(scope[i])]));
        // The header of an article holds its introduction; the page's own header goes.
        const bool articleHeader =
            node.header && node.drop == Drop::Weak &&
            ((scope[i] > 0 && HintOf(node.element).drop == Drop::None) || node.longest >= kIntroduction);
        const bool wrapper = node.tag == GUMBO_TAG_BODY ||
                             (node.holdsBody && (node.body || node.drop == Drop::Weak)) || articleHeader ||
                             (node.drop == Drop::Weak && share(node) * 2 > total) ||
                             share(node) * 3 > around * 2;
        node.dropped = m_nodes[size_t(parent)].dropped || (node.drop != Drop::None && !wrapper);
    }
}

// Whether two class attributes name the same kind of element: their first words agree
// ("text-block" and "text-block text-block--wide").
bool SameKind(const char* one, const char* other) {
    while (IsSpace(*one))
        ++one;
    while (IsSpace(*other))
        ++other;
    if (!*one)
        return false;
    for (; *one && !IsSpace(*one); ++one, ++other)
        if (*one != *other)
            return false;
    return !*other || IsSpace(*other);
}

std::vector<int> Finder::Candidates() {
    // Every paragraph gives its score to its parent, half to its grandparent, and less
    // further up.
    for (size_t i = 1; i < m_nodes.size(); ++i) {
        const Node& block = m_nodes[i];
        if (block.dropped || IsInline(block.tag))
            continue;
        const int content = block.inlineText - block.inlineLinkText;
        if (content < kParagraphMinimum)
            continue;
        const double score = 1 + block.commas + qMin(content / 100, 3);
        m_nodes[i].content += score;
        int ancestor = block.parent;
        for (int level = 0; level < 5 && ancestor > 0; ++level, ancestor = m_nodes[size_t(ancestor)].parent) {
            Node& candidate = m_nodes[size_t(ancestor)];
            if (!candidate.scored) {
                candidate.scored = true;
                switch (candidate.tag) {
                case GUMBO_TAG_DIV:
                case GUMBO_TAG_ARTICLE:
                case GUMBO_TAG_SECTION:
                case GUMBO_TAG_MAIN:
                    candidate.score = 5;
                    break;
                case GUMBO_TAG_PRE:
                case GUMBO_TAG_TD:
                case GUMBO_TAG_BLOCKQUOTE:
                    candidate.score = 3;
                    break;
                case GUMBO_TAG_OL:
                case GUMBO_TAG_UL:
                case GUMBO_TAG_DL:
                case GUMBO_TAG_DD:
                case GUMBO_TAG_DT:
                case GUMBO_TAG_LI:
                case GUMBO_TAG_FORM:
                case GUMBO_TAG_ADDRESS:
                    candidate.score = -3;
                    break;
                case GUMBO_TAG_H1:
                case GUMBO_TAG_H2:
                case GUMBO_TAG_H3:
                case GUMBO_TAG_H4:
                case GUMBO_TAG_H5:
                case GUMBO_TAG_H6:
                case GUMBO_TAG_TH:
                    candidate.score = -5;
                    break;
                default:
                    break;
                }
                // What a name says counts in full only for an element that holds a few
                // paragraphs' worth: a heading's wrapper named "content" is no article.
                const int own = candidate.text - candidate.linkText;
                candidate.score += candidate.weight * qMin(1.0, own / double(kNamedMinimum));
            }
            candidate.score += score / (level == 0 ? 1 : level == 1 ? 2 : level * 3);
        }
    }
    int top = -1;
    for (size_t i = 1; i < m_nodes.size(); ++i) {
        const Node& node = m_nodes[i];
        if (node.scored && !node.dropped && node.tag != GUMBO_TAG_BODY &&
            (top < 0 || Final(int(i)) > Final(top)))
            top = int(i);
    }
    if (top < 0)
        return {};
    for (size_t i = m_nodes.size(); i-- > 1;)
        m_nodes[size_t(m_nodes[i].parent)].content += m_nodes[i].content;
    // Where the page names its article's body, that is the article, unless it holds
    // little of what the best-scoring element holds.
    int named = -1;
    for (size_t i = 1; i < m_nodes.size(); ++i) {
        const Node& node = m_nodes[i];
        if (node.body && !node.dropped && (named < 0 || node.content > m_nodes[size_t(named)].content))
            named = int(i);
    }
    if (named >= 0 && named != top) {
        const bool around = IsInside(top, named);
        if (around || m_nodes[size_t(named)].content * 5 >= m_nodes[size_t(top)].content * 3)
            top = named;
    }
    const double best = Final(top);
    const double threshold = qMax(10.0, best * 0.2);
    const int parent = m_nodes[size_t(top)].parent;
    std::vector<int> chosen;
    const char* topClass = ebook::Attribute(m_nodes[size_t(top)].element, "class");
    // The siblings that carry on the article: scored ones, and plain paragraphs of text.
    for (size_t i = size_t(parent) + 1; i < size_t(m_nodes[size_t(parent)].end); i = size_t(m_nodes[i].end)) {
        const Node& node = m_nodes[i];
        if (int(i) == top) {
            chosen.push_back(top);
            continue;
        }
        if (node.dropped)
            continue;
        double bonus = 0;
        const char* itsClass = ebook::Attribute(node.element, "class");
        if (topClass && itsClass && *topClass && SameKind(topClass, itsClass))
            bonus = best * 0.2;
        // Scored siblings, paragraphs and boxes with an introduction carry on the article,
        // unless they are mostly teasers.
        const int length = node.text;
        const double density = LinkDensity(int(i));
        const bool carries = (node.scored && Final(int(i)) + bonus >= threshold) ||
                             ((node.tag == GUMBO_TAG_P || node.content > 0) &&
                              ((length > 80 && density < 0.25) ||
                               (node.tag == GUMBO_TAG_P && length > 0 && length <= 80 && density == 0 &&
                                QByteArray(TextOf(node.element)).trimmed().endsWith('.'))));
        if (carries && !HoldsTeasers(int(i)))
            chosen.push_back(int(i));
    }
    // An article in parts that the layout sets apart (sections between pictures and boxes)
    // gives its parts the class of the best one: those that score a fifth of it join it, be
    // they ever so short.
    if (topClass && *topClass) {
        const size_t first = size_t(m_nodes[size_t(parent)].end);
        for (size_t i = 1; i < m_nodes.size(); ++i) {
            const Node& node = m_nodes[i];
            if (i == size_t(parent)) {
                i = first - 1;
                continue;
            }
            const char* itsClass = ebook::Attribute(node.element, "class");
            if (node.dropped || !node.scored || node.tag != m_nodes[size_t(top)].tag || !itsClass ||
                !SameKind(itsClass, topClass) || Final(int(i)) < best * 0.2 || IsInside(top, int(i)))
                continue;
            chosen.push_back(int(i));
            i = size_t(node.end) - 1;
        }
        std::sort(chosen.begin(), chosen.end());
    }
    return chosen;
}

// Whether most of an element's text is in lists of teasers of other articles.
bool Finder::HoldsTeasers(int i) const {
    const Node& node = m_nodes[size_t(i)];
    int teasers = 0;
    for (int inner = i; inner < node.end; ++inner) {
        const Node& part = m_nodes[size_t(inner)];
        if (part.dropped || part.linkText == 0 || IsInline(part.tag) || !IsCardList(inner))
            continue;
        teasers += part.text;
        inner = part.end - 1;
    }
    return teasers * 2 > node.text;
}

// Whether an element is a list of teasers of other articles: most of its children are
// cards alike, each a short box with a link and a heading or picture.
bool Finder::IsCardList(int i) const {
    int children = 0;
    int cards = 0;
    GumboTag kind = GUMBO_TAG_UNKNOWN;
    for (int child = i + 1; child < m_nodes[size_t(i)].end; child = m_nodes[size_t(child)].end) {
        const Node& node = m_nodes[size_t(child)];
        if (IsInline(node.tag) || node.text == 0)
            continue;
        ++children;
        const bool box = node.tag == GUMBO_TAG_DIV || node.tag == GUMBO_TAG_LI ||
                         node.tag == GUMBO_TAG_ARTICLE || node.tag == GUMBO_TAG_SECTION;
        if (!box || node.linkText == 0 || node.text > kCardText ||
            (kind != GUMBO_TAG_UNKNOWN && node.tag != kind))
            continue;
        // A teaser has a title beside its link, or a picture as its link.
        bool titled = false;
        for (int inner = child + 1; inner < node.end && !titled; ++inner) {
            titled = IsHeading(inner);
            for (int within = inner + 1;
                 m_nodes[size_t(inner)].tag == GUMBO_TAG_A && within < m_nodes[size_t(inner)].end && !titled;
                 ++within)
                titled = m_nodes[size_t(within)].tag == GUMBO_TAG_IMG;
        }
        if (titled) {
            kind = node.tag;
            ++cards;
        }
    }
    return cards >= 3 && cards * 3 >= children * 2;
}

// Whether an element inside the article is left out of it.
bool Finder::Skipped(int i, const QByteArray& title) const {
    const Node& node = m_nodes[size_t(i)];
    if (node.dropped)
        return true;
    if (node.tag == GUMBO_TAG_H1 && !title.isEmpty()) {
        const QByteArray heading = ebook::CollapseSpaces(TextOf(node.element)).toLower();
        if (!heading.isEmpty() && title.contains(heading))
            return true;
    }
    // The readings printed above East Asian characters would run into the text.
    if (node.tag == GUMBO_TAG_RT || node.tag == GUMBO_TAG_RP)
        return true;
    if (IsInline(node.tag) || m_linkList)
        return false;
    if (node.linkText > 0 && IsCardList(i))
        return true;
    // A paragraph that is one link is a link to another article.
    if (node.tag == GUMBO_TAG_P)
        return node.text > 0 && (LinkDensity(i) > 0.9 || (node.text < kReadAlso && LinkDensity(i) > 0.6));
    // Lists and boxes of links: other articles, tags, pages.
    return node.text > 0 && LinkDensity(i) > 0.5;
}

void AppendEscaped(QByteArray& out, const char* text) {
    for (const char* p = text; *p; ++p) {
        switch (*p) {
        case '&':
            out.append("&amp;");
            break;
        case '<':
            out.append("&lt;");
            break;
        case '>':
            out.append("&gt;");
            break;
        case '"':
            out.append("&quot;");
            break;
        default:
            out.append(*p);
        }
    }
}

// Where a picture's credit starts in a piece of text ("Photo: X / Agency", "(Foto: X)",
// "© X"), with the brackets and separators before it; -1 when it holds none.
qsizetype CreditStart(QByteArrayView text) {
    static const char* const kWords[] = {"photos",
                                         "photo",
                                         "fotos",
                                         "foto",
                                         "bild",
                                         "imagen",
                                         "images",
                                         "image",
                                         ("cr\xc3\xa9"
                                          "dits photos"),
                                         "credits",
                                         "credit",
                                         "quelle",
                                         "source",
                                         "fuente",
                                         "fonte",
                                         "\xc5\xba\x72\xc3\xb3\x64\xc5\x82o"};
    const QByteArray lower = text.toByteArray().toLower();
    qsizetype found = -1;
    for (qsizetype at = 0; at < lower.size() && found < 0; ++at) {
        if (at > 0 && IsLetter(lower[at - 1]))
            continue;
        if (lower.sliced(at).startsWith("\xc2\xa9")) {
            found = at;
            break;
        }
        // A credit starts the text or follows a sentence or a separator, not a word
        // ("Funding source:").
        qsizetype before = at;
        while (before > 0 && IsSpace(lower[before - 1]))
            --before;
        if (before > 0 && before < at && IsLetter(lower[before - 1]))
            continue;
        for (const char* word : kWords) {
            const QByteArrayView rest = QByteArrayView(lower).sliced(at);
            if (!rest.startsWith(word))
                continue;
            qsizetype next = at + qsizetype(strlen(word));
            while (next < lower.size() && lower[next] == ' ')
                ++next;
            if (next < lower.size() && lower[next] == ':')
                found = at;
            break;
        }
    }
    if (found < 0)
        return -1;
    while (found > 0 && (IsSpace(text[found - 1]) || strchr("([|/,-", text[found - 1])))
        --found;
    return found;
}

// Where a picture is: its src, or where a page that loads pictures late keeps it.
const char* PictureSource(const GumboNode* image, QByteArray& scratch) {
    const char* src = ebook::Attribute(image, "src");
    if (src && *src && strncmp(src, "data:", 5) != 0)
        return src;
    for (const char* name : {"data-src", "data-original", "data-lazy-src", "data-url"}) {
        if (const char* value = ebook::Attribute(image, name); value && *value)
            return value;
    }
    for (const char* name : {"data-srcset", "srcset"}) {
        if (const char* value = ebook::Attribute(image, name); value && *value) {
            scratch = QByteArray(value).trimmed();
            const qsizetype end = scratch.indexOf(' ');
            if (end > 0)
                scratch.truncate(end);
            return scratch.constData();
        }
    }
    return src;
}

// The name an element is written with. A parser without scripts reads <noscript> as
// markup, and a page that leaves one open puts all it has inside: its content stays.
const char* OutputName(GumboTag tag) {
    return tag == GUMBO_TAG_NOSCRIPT ? "div" : gumbo_normalized_tagname(tag);
}

bool IsVoid(GumboTag tag) {
    return tag == GUMBO_TAG_IMG || tag == GUMBO_TAG_BR || tag == GUMBO_TAG_HR;
}

void Finder::Start(QByteArray& out, int i) const {
    static const char* const kAttributes[] = {"href",    "alt",   "title", "colspan",
                                              "rowspan", "start", "dir",   "cite"};
    const Node& node = m_nodes[size_t(i)];
    out.append('<').append(OutputName(node.tag));
    if (node.tag == GUMBO_TAG_IMG) {
        QByteArray scratch;
        if (const char* src = PictureSource(node.element, scratch)) {
            out.append(" src=\"");
            AppendEscaped(out, src);
            out.append('"');
        }
    }
    for (const char* name : kAttributes) {
        if (const char* value = ebook::Attribute(node.element, name)) {
            out.append(' ').append(name).append("=\"");
            AppendEscaped(out, value);
            out.append('"');
        }
    }
    out.append('>');
}

std::vector<char> Finder::Kept(const std::vector<int>& roots, const QByteArray& title) const {
    std::vector<char> kept(m_nodes.size(), 0);
    for (const int root : roots) {
        kept[size_t(root)] = 1;
        for (int i = root + 1; i < m_nodes[size_t(root)].end; ++i)
            kept[size_t(i)] = kept[size_t(m_nodes[size_t(i)].parent)] && !Skipped(i, title);
    }
    // What is left of the text and pictures besides headings, in each element and after it:
    // a box that lost its content but a heading was a list of links with its title, and a
    // heading with nothing after it, or nothing up to the next heading but what was left
    // out, heads what was left out ("More on this", "Read also").
    std::vector<int> body(m_nodes.size(), 0);
    std::vector<int> suffix(m_nodes.size() + 1, 0);
    std::vector<int> removed(m_nodes.size() + 1, 0);
    std::vector<int> nextTitle(m_nodes.size() + 1, int(m_nodes.size()));
    std::vector<char> inHeading(m_nodes.size(), 0);
    for (const int root : roots)
        for (int i = root + 1; i < m_nodes[size_t(root)].end; ++i)
            inHeading[size_t(i)] = IsTitle(i) || inHeading[size_t(m_nodes[size_t(i)].parent)];
    std::vector<char> lost(m_nodes.size(), 0);
    for (size_t i = m_nodes.size(); i-- > 1;) {
        const Node& node = m_nodes[i];
        if (!kept[i] || lost[i])
            lost[size_t(node.parent)] = 1;
        const int own = kept[i] && !inHeading[i] ? node.ownText + (node.tag == GUMBO_TAG_IMG ? 1 : 0) : 0;
        suffix[i] = suffix[i + 1] + own;
        removed[i] = removed[i + 1] + (kept[i] ? 0 : node.ownText);
        nextTitle[i] = IsTitle(int(i)) ? int(i) : nextTitle[i + 1];
        body[i] += own;
        if (kept[i] && !IsTitle(int(i)))
            body[size_t(node.parent)] += body[i];
    }
    for (const int root : roots) {
        const int end = m_nodes[size_t(root)].end;
        for (int i = root + 1; i < end; ++i) {
            const Node& node = m_nodes[size_t(i)];
            if (!kept[size_t(i)] || IsInline(node.tag))
                continue;
            const auto headsNothing = [&] {
                const size_t next = size_t(qMin(nextTitle[size_t(node.end)], end));
                return suffix[size_t(node.end)] == suffix[size_t(end)] ||
                       (suffix[size_t(node.end)] == suffix[next] &&
                        removed[size_t(node.end)] - removed[next] >= kParagraphMinimum);
            };
            const bool empty = IsTitle(i) ? headsNothing() : body[size_t(i)] == 0 && lost[size_t(i)];
            if (empty)
                kept[size_t(i)] = 0;
        }
    }
    return kept;
}

QByteArray Finder::Html(const std::vector<int>& roots, const QByteArray& title) const {
    const std::vector<char> kept = Kept(roots, title);
    QByteArray out;
    for (const int root : roots) {
        // Gumbo's tree holds the text; the flat list, in the same order, what was found
        // about each element. `index` is the flat index of the element last entered.
        struct Step {
            const GumboNode* node;
            int index;
            unsigned next;
            bool caption;
        };
        std::vector<Step> steps{
            {m_nodes[size_t(root)].element, root, 0, m_nodes[size_t(root)].tag == GUMBO_TAG_FIGCAPTION}};
        int index = root;
        Start(out, root);
        while (!steps.empty()) {
            Step& step = steps.back();
            const GumboVector& children = step.node->v.element.children;
            if (step.next == children.length) {
                const GumboTag tag = m_nodes[size_t(step.index)].tag;
                if (!IsVoid(tag))
                    out.append("</").append(OutputName(tag)).append('>');
                steps.pop_back();
                continue;
            }
            const auto* child = static_cast<const GumboNode*>(children.data[step.next++]);
            if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_WHITESPACE ||
                child->type == GUMBO_NODE_CDATA) {
                // A picture's credit is no part of its caption, nor a line of the article.
                const char* text = child->v.text.text;
                const qsizetype credit =
                    step.caption || m_nodes[size_t(step.index)].text <= kCreditLine ? CreditStart(text) : -1;
                if (credit >= 0)
                    AppendEscaped(out, QByteArray(text, credit).constData());
                else
                    AppendEscaped(out, text);
                continue;
            }
            if (child->type != GUMBO_NODE_ELEMENT || IsNeverContent(child->v.element.tag) ||
                child->v.element.tag_namespace != GUMBO_NAMESPACE_HTML)
                continue;
            ++index;
            if (!kept[size_t(index)]) {
                index = m_nodes[size_t(index)].end - 1;
                continue;
            }
            Start(out, index);
            steps.push_back(
                {child, index, 0, step.caption || m_nodes[size_t(index)].tag == GUMBO_TAG_FIGCAPTION});
        }
    }
    return out;
}

// The articleBody of the page's structured data, the longest when there are several.
QByteArray JsonLdBody(const std::vector<QByteArray>& scripts) {
    QByteArray best;
    for (const QByteArray& script : scripts) {
        const QJsonDocument document = QJsonDocument::fromJson(script);
        std::vector<QJsonValue> pending;
        if (document.isArray())
            pending.emplace_back(document.array());
        else if (document.isObject())
            pending.emplace_back(document.object());
        while (!pending.empty()) {
            const QJsonValue value = pending.back();
            pending.pop_back();
            if (value.isArray()) {
                for (const QJsonValue& item : value.toArray())
                    pending.push_back(item);
            } else if (value.isObject()) {
                const QJsonObject object = value.toObject();
                for (auto it = object.begin(); it != object.end(); ++it) {
                    if (it.key() == QLatin1String("articleBody") && it.value().isString()) {
                        const QByteArray body = it.value().toString().toUtf8();
                        if (body.size() > best.size())
                            best = body;
                    } else if (it.value().isObject() || it.value().isArray()) {
                        pending.push_back(it.value());
                    }
                }
            }
        }
    }
    return best;
}

// Plain text as paragraphs: one per line.
QByteArray TextAsHtml(const QByteArray& text) {
    QByteArray out;
    for (const QByteArray& line : text.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty())
            continue;
        out.append("<p>");
        AppendEscaped(out, trimmed.constData());
        out.append("</p>");
    }
    return out;
}

QByteArray PictureElement(const ebook::ImageInfo& image) {
    if (image.source.isEmpty())
        return ebook::ImageAltText(image);
    QByteArray out = "<img src=\"";
    AppendXmlEscaped(out, image.source.toEncoded());
    out.append("\" alt=\"");
    AppendXmlEscaped(out, ebook::CollapseSpaces(image.alt));
    out.append("\"/>");
    return out;
}

} // namespace

qsizetype TextLength(QByteArrayView html) {
    const QByteArray text = ebook::HtmlToText(html);
    int commas = 0;
    return Weigh(text.constData(), commas);
}

std::optional<Article> FindArticle(const PageInput& page) {
    if (page.bytes.size() > kMaxPageBytes)
        return std::nullopt;
    const QByteArray utf8 = PageToUtf8(page.bytes, page.contentType);
    const ebook::HtmlTree tree(BoundNesting(utf8));
    if (!tree.Root())
        return std::nullopt;
    Finder finder(tree.Root());
    const std::vector<int> roots = finder.Choose();
    const PageFacts& facts = finder.Facts();

    Article article;
    article.title = ebook::CollapseSpaces(facts.ogTitle.isEmpty() ? facts.title : facts.ogTitle);
    QUrl base = page.address;
    if (!facts.baseHref.isEmpty()) {
        const QUrl href = ebook::SafeUrl(page.address, facts.baseHref, false);
        if (!href.isEmpty())
            base = href;
    }
    const QByteArray titles =
        (ebook::CollapseSpaces(facts.title) + '\n' + ebook::CollapseSpaces(facts.ogTitle)).toLower();
    ebook::HtmlOptions options;
    options.base = base;
    options.image = page.image ? page.image : ebook::ImageHook(PictureElement);
    ebook::SanitizedHtml clean = ebook::SanitizeHtml(finder.Html(roots, titles), options);
    article.textLength = TextLength(clean.xhtml);
    // An article of nothing but links is a list that someone collected.
    if (article.textLength == 0 && !roots.empty()) {
        finder.KeepLinks();
        clean = ebook::SanitizeHtml(finder.Html(roots, titles), options);
        article.textLength = TextLength(clean.xhtml);
    }

    // Pages that build their text with scripts still say it in their structured data.
    const QByteArray body = JsonLdBody(facts.jsonLd);
    if (!body.isEmpty()) {
        const QByteArray bodyHtml = body.contains('<') ? body : TextAsHtml(body);
        const qsizetype bodyLength = TextLength(bodyHtml);
        if (bodyLength * 2 > article.textLength * 3) {
            clean = ebook::SanitizeHtml(bodyHtml, options);
            article.textLength = TextLength(clean.xhtml);
        }
    }
    if (article.textLength == 0)
        return std::nullopt;
    article.xhtml = clean.xhtml;
    return article;
}

} // namespace extract
