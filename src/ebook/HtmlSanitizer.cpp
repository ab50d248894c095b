#include "ebook/HtmlSanitizer.h"

#include "base/XmlText.h"
#include "ebook/HtmlTree.h"

#include <cstring>
#include <vector>

namespace ebook {

namespace {

// Past this many tags an article is cut: the HTML tree builder takes time that grows
// with the square of the nesting, and no real article comes near it.
constexpr qsizetype kMaxTags = 20000;

// How an element is written.
enum class Kind : uchar {
    Drop,   // gone with everything inside
    Unwrap, // gone, its content stays
    Inline, // phrasing element with phrasing content
    Link,   // <a>: transparent
    Block,  // flow element with phrasing content (p, headings, pre)
    Flow,   // flow element with flow content (div, blockquote)
    Figure,
    Figcaption,
    List,     // ul, ol
    ListItem, // li
    DefList,  // dl
    DefTerm,  // dt
    DefData,  // dd
    Table,
    Caption,
    Section, // thead, tbody, tfoot: all written as tbody, so that their order never matters
    Row,
    Cell, // td
    Head, // th
    Image,
    Break,
    Rule,
};

struct TagRule {
    Kind kind;
    const char* name; // written name, when it differs from the tag's own
};

TagRule RuleFor(GumboTag tag) {
    switch (tag) {
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_FRAME:
    case GUMBO_TAG_FRAMESET:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_OBJECT:
    case GUMBO_TAG_EMBED:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_APPLET:
    case GUMBO_TAG_PARAM:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_INPUT:
    case GUMBO_TAG_BUTTON:
    case GUMBO_TAG_SELECT:
    case GUMBO_TAG_DATALIST:
    case GUMBO_TAG_OPTGROUP:
    case GUMBO_TAG_OPTION:
    case GUMBO_TAG_TEXTAREA:
    case GUMBO_TAG_KEYGEN:
    case GUMBO_TAG_OUTPUT:
    case GUMBO_TAG_PROGRESS:
    case GUMBO_TAG_METER:
    case GUMBO_TAG_ISINDEX:
    case GUMBO_TAG_META:
    case GUMBO_TAG_LINK:
    case GUMBO_TAG_BASE:
    case GUMBO_TAG_BASEFONT:
    case GUMBO_TAG_BGSOUND:
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_VIDEO:
    case GUMBO_TAG_AUDIO:
    case GUMBO_TAG_SOURCE:
    case GUMBO_TAG_TRACK:
    case GUMBO_TAG_CANVAS:
    case GUMBO_TAG_MAP:
    case GUMBO_TAG_AREA:
    case GUMBO_TAG_SVG:
    case GUMBO_TAG_MATH:
    case GUMBO_TAG_MENU:
    case GUMBO_TAG_MENUITEM:
    case GUMBO_TAG_COLGROUP:
    case GUMBO_TAG_COL:
    case GUMBO_TAG_RP:
    case GUMBO_TAG_NEXTID:
    case GUMBO_TAG_SPACER:
        return {Kind::Drop, nullptr};
    case GUMBO_TAG_A:
        return {Kind::Link, nullptr};
    case GUMBO_TAG_EM:
    case GUMBO_TAG_STRONG:
    case GUMBO_TAG_SMALL:
    case GUMBO_TAG_S:
    case GUMBO_TAG_CITE:
    case GUMBO_TAG_Q:
    case GUMBO_TAG_DFN:
    case GUMBO_TAG_ABBR:
    case GUMBO_TAG_CODE:
    case GUMBO_TAG_VAR:
    case GUMBO_TAG_SAMP:
    case GUMBO_TAG_KBD:
    case GUMBO_TAG_SUB:
    case GUMBO_TAG_SUP:
    case GUMBO_TAG_I:
    case GUMBO_TAG_B:
    case GUMBO_TAG_U:
    case GUMBO_TAG_MARK:
        return {Kind::Inline, nullptr};
    case GUMBO_TAG_STRIKE:
        return {Kind::Inline, "s"};
    case GUMBO_TAG_TT:
        return {Kind::Inline, "code"};
    case GUMBO_TAG_ACRONYM:
        return {Kind::Inline, "abbr"};
    case GUMBO_TAG_INS:
    case GUMBO_TAG_DEL:
        // Transparent in HTML, and so as awkward to nest as links: they give way.
        return {Kind::Unwrap, nullptr};
    case GUMBO_TAG_P:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_PRE:
        return {Kind::Block, nullptr};
    case GUMBO_TAG_LISTING:
    case GUMBO_TAG_XMP:
    case GUMBO_TAG_PLAINTEXT:
        return {Kind::Block, "pre"};
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_DIV:
        return {Kind::Flow, nullptr};
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_HGROUP:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_SUMMARY:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_LEGEND:
    case GUMBO_TAG_MULTICOL:
        return {Kind::Flow, "div"};
    case GUMBO_TAG_FIGURE:
        return {Kind::Figure, nullptr};
    case GUMBO_TAG_FIGCAPTION:
        return {Kind::Figcaption, nullptr};
    case GUMBO_TAG_UL:
    case GUMBO_TAG_OL:
        return {Kind::List, nullptr};
    case GUMBO_TAG_DIR:
        return {Kind::List, "ul"};
    case GUMBO_TAG_LI:
        return {Kind::ListItem, nullptr};
    case GUMBO_TAG_DL:
        return {Kind::DefList, nullptr};
    case GUMBO_TAG_DT:
        return {Kind::DefTerm, nullptr};
    case GUMBO_TAG_DD:
        return {Kind::DefData, nullptr};
    case GUMBO_TAG_TABLE:
        return {Kind::Table, nullptr};
    case GUMBO_TAG_CAPTION:
        return {Kind::Caption, nullptr};
    case GUMBO_TAG_THEAD:
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_TFOOT:
        return {Kind::Section, "tbody"};
    case GUMBO_TAG_TR:
        return {Kind::Row, nullptr};
    case GUMBO_TAG_TD:
        return {Kind::Cell, nullptr};
    case GUMBO_TAG_TH:
        return {Kind::Head, nullptr};
    case GUMBO_TAG_IMG:
    case GUMBO_TAG_IMAGE:
        return {Kind::Image, nullptr};
    case GUMBO_TAG_BR:
        return {Kind::Break, nullptr};
    case GUMBO_TAG_HR:
        return {Kind::Rule, nullptr};
    default:
        return {Kind::Unwrap, nullptr};
    }
}

// What content the element being written takes.
enum class Holder : uchar { Flow, Phrasing, List, DefList, Table, Section, Row, Figure };

struct Frame {
    const GumboVector* children;
    unsigned next = 0;
    Holder holder;
    bool inLink;
    const char* name = nullptr;  // the end tag to write after the children
    const char* after = nullptr; // written after that
    int firstNode = -1;          // of a figure: its first and last nodes that are not blank
    int lastNode = -1;
};

bool IsBlank(const GumboNode* node) {
    return node->type == GUMBO_NODE_WHITESPACE || node->type == GUMBO_NODE_COMMENT;
}

// Whether a definition list is terms followed by their definitions, group after group,
// which is all a reading system accepts; any other is written as divisions.
bool IsWellFormedDefinitionList(const GumboNode* list) {
    const GumboVector& children = list->v.element.children;
    GumboTag last = GUMBO_TAG_UNKNOWN;
    for (unsigned i = 0; i < children.length; ++i) {
        const auto* child = static_cast<const GumboNode*>(children.data[i]);
        if (IsBlank(child))
            continue;
        if (child->type != GUMBO_NODE_ELEMENT || child->v.element.tag_namespace != GUMBO_NAMESPACE_HTML)
            return false;
        const GumboTag tag = child->v.element.tag;
        if (tag != GUMBO_TAG_DT && tag != GUMBO_TAG_DD) {
            if (RuleFor(tag).kind == Kind::Drop)
                continue;
            return false;
        }
        if (tag == GUMBO_TAG_DD && last == GUMBO_TAG_UNKNOWN)
            return false;
        last = tag;
    }
    return last == GUMBO_TAG_DD;
}

class Writer {
public:
    Writer(const HtmlOptions& options, QByteArray& out, QByteArray& text)
        : m_options(options), m_out(out), m_text(text) {}

    void Write(const GumboNode* root) {
        m_stack.push_back({&root->v.element.children, 0, Holder::Flow, false});
        while (!m_stack.empty()) {
            Frame& frame = m_stack.back();
            if (frame.next == frame.children->length) {
                if (frame.name)
                    m_out.append("</").append(frame.name).append('>');
                if (frame.after)
                    m_out.append(frame.after);
                m_stack.pop_back();
                continue;
            }
            const int index = int(frame.next++);
            const auto* node = static_cast<const GumboNode*>(frame.children->data[index]);
            if (node->type == GUMBO_NODE_ELEMENT)
                Element(node, index, frame);
            else if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_CDATA ||
                     node->type == GUMBO_NODE_WHITESPACE)
                Text(node->v.text.text, node->type == GUMBO_NODE_WHITESPACE, frame.holder);
        }
    }

private:
    void Text(const char* text, bool blank, Holder holder) {
        const QByteArrayView view(text, qsizetype(strlen(text)));
        if (!blank && m_text.size() < m_options.textLimit)
            m_text.append(view.first(qMin(view.size(), qsizetype(m_options.textLimit) * 2)));
        if (holder == Holder::List || holder == Holder::DefList) {
            if (blank) {
                AppendXmlEscaped(m_out, view); // HTML counts a form feed as a space; XML has no place for it
            } else {
                m_out.append(holder == Holder::List ? "<li>" : "<dd>");
                AppendXmlEscaped(m_out, view);
                m_out.append(holder == Holder::List ? "</li>" : "</dd>");
            }
        } else if (holder == Holder::Table || holder == Holder::Section || holder == Holder::Row) {
            if (blank)
                AppendXmlEscaped(m_out, view);
        } else {
            AppendXmlEscaped(m_out, view);
        }
    }

    // Where stray content of a list goes: into an item of its own.
    static bool Wrap(Holder holder, const char*& open, const char*& close) {
        if (holder == Holder::List)
            open = "<li>", close = "</li>";
        else if (holder == Holder::DefList)
            open = "<dd>", close = "</dd>";
        else
            open = close = nullptr;
        return holder != Holder::Table && holder != Holder::Section && holder != Holder::Row;
    }

    void Element(const GumboNode* node, int index, const Frame& parent) {
        const GumboElement& element = node->v.element;
        TagRule rule = RuleFor(element.tag);
        const Holder holder = parent.holder;
        const bool inLink = parent.inLink;
        const bool phrasing = holder == Holder::Phrasing;
        const char* open = nullptr;
        const char* close = nullptr;
        if (rule.kind == Kind::Drop)
            return;
        if (element.tag_namespace != GUMBO_NAMESPACE_HTML)
            return;

        if (rule.kind == Kind::DefList && !IsWellFormedDefinitionList(node))
            rule = {Kind::Flow, "div"};
        // Elements that stand only in a parent of their own kind, elsewhere are divisions.
        const bool listChild = rule.kind == Kind::ListItem && holder == Holder::List;
        const bool defChild =
            (rule.kind == Kind::DefTerm || rule.kind == Kind::DefData) && holder == Holder::DefList;
        if ((rule.kind == Kind::ListItem && !listChild) ||
            ((rule.kind == Kind::DefTerm || rule.kind == Kind::DefData) && !defChild))
            rule = {Kind::Flow, "div"};
        if (rule.kind == Kind::Figcaption) {
            const bool keep = holder == Holder::Figure &&
                              (index == parent.firstNode ||
                               (index == parent.lastNode && !IsFigcaption(parent, parent.firstNode)));
            if (!keep)
                rule = {Kind::Flow, "div"};
        }
        const bool tablePart = rule.kind == Kind::Caption || rule.kind == Kind::Section ||
                               rule.kind == Kind::Row || rule.kind == Kind::Cell || rule.kind == Kind::Head;
        if (tablePart) {
            const bool placed =
                (rule.kind == Kind::Caption && holder == Holder::Table && index == FirstNode(parent)) ||
                (rule.kind == Kind::Section && holder == Holder::Table) ||
                (rule.kind == Kind::Row && holder == Holder::Section) ||
                ((rule.kind == Kind::Cell || rule.kind == Kind::Head) && holder == Holder::Row);
            if (!placed) {
                if (rule.kind == Kind::Caption && holder == Holder::Table)
                    return;
                Push(node, holder, inLink, nullptr, rule.kind == Kind::Row ? "<br/>" : " ");
                return;
            }
        }

        switch (rule.kind) {
        case Kind::Drop:
            return;
        case Kind::Unwrap:
            Push(node, holder, inLink, nullptr, nullptr);
            return;
        case Kind::Image:
            if (Wrap(holder, open, close))
                Inline(open, Image(node), close);
            return;
        case Kind::Break:
            if (holder == Holder::Flow || holder == Holder::Phrasing || holder == Holder::Figure)
                m_out.append("<br/>");
            return;
        case Kind::Rule:
            if (holder == Holder::Flow || holder == Holder::Figure)
                m_out.append("<hr/>");
            else if (phrasing)
                m_out.append("<br/>");
            return;
        case Kind::Link: {
            if (inLink) {
                Push(node, holder, true, nullptr, nullptr);
                return;
            }
            const char* href = Attribute(node, "href");
            const QUrl url = href ? SafeUrl(m_options.base, href, true) : QUrl();
            if (url.isEmpty() || !Wrap(holder, open, close)) {
                Push(node, holder, inLink, nullptr, nullptr);
                return;
            }
            if (open)
                m_out.append(open);
            m_out.append("<a href=\"");
            AppendXmlEscaped(m_out, url.toEncoded());
            m_out.append('"');
            CopyAttribute(node, "title");
            Direction(node);
            m_out.append('>');
            // Inside a list item the link holds what the item holds.
            Push(node, open ? Holder::Flow : holder, true, "a", close);
            return;
        }
        case Kind::Inline:
            if (!Wrap(holder, open, close))
                return;
            Start(node, rule, open);
            if (element.tag == GUMBO_TAG_ABBR)
                CopyAttribute(node, "title");
            if (element.tag == GUMBO_TAG_Q)
                UrlAttribute(node, "cite");
            End();
            Push(node, Holder::Phrasing, inLink, Name(node, rule), close);
            return;
        default:
            break;
        }

        // The rest are blocks: inside phrasing content they give way to their content,
        // with a line break where they ended.
        if (phrasing) {
            Push(node, holder, inLink, nullptr,
                 rule.kind == Kind::Cell || rule.kind == Kind::Head ? " " : "<br/>");
            return;
        }
        if (!Wrap(holder, open, close) && !tablePart)
            return;
        if (tablePart || listChild || defChild)
            open = close = nullptr;
        Start(node, rule, open);
        Holder inner = Holder::Flow;
        switch (rule.kind) {
        case Kind::Block:
        case Kind::Caption:
        case Kind::Head:
        case Kind::DefTerm:
            inner = Holder::Phrasing;
            break;
        case Kind::Flow:
            if (element.tag == GUMBO_TAG_BLOCKQUOTE)
                UrlAttribute(node, "cite");
            break;
        case Kind::List:
            inner = Holder::List;
            if (element.tag == GUMBO_TAG_OL)
                NumberAttribute(node, "start", -1000000, 1000000);
            break;
        case Kind::DefList:
            inner = Holder::DefList;
            break;
        case Kind::Table:
            inner = Holder::Table;
            break;
        case Kind::Section:
            inner = Holder::Section;
            break;
        case Kind::Row:
            inner = Holder::Row;
            break;
        case Kind::Figure:
            inner = Holder::Figure;
            break;
        default:
            break;
        }
        if (rule.kind == Kind::Cell || rule.kind == Kind::Head) {
            NumberAttribute(node, "colspan", 1, 1000);
            NumberAttribute(node, "rowspan", 1, 65534);
        }
        End();
        Push(node, inner, inLink, Name(node, rule), close);
        if (rule.kind == Kind::Figure)
            MarkEnds(m_stack.back());
    }

    static const char* Name(const GumboNode* node, const TagRule& rule) {
        return rule.name ? rule.name : gumbo_normalized_tagname(node->v.element.tag);
    }

    void Start(const GumboNode* node, const TagRule& rule, const char* open) {
        if (open)
            m_out.append(open);
        m_out.append('<').append(Name(node, rule));
        Direction(node);
    }
    void End() { m_out.append('>'); }

    void Push(const GumboNode* node, Holder holder, bool inLink, const char* name, const char* after) {
        m_stack.push_back({&node->v.element.children, 0, holder, inLink, name, after});
    }

    void Inline(const char* open, const QByteArray& markup, const char* close) {
        if (markup.isEmpty())
            return;
        if (open)
            m_out.append(open);
        m_out.append(markup);
        if (close)
            m_out.append(close);
    }

    QByteArray Image(const GumboNode* node) {
        ImageInfo image;
        if (const char* src = Attribute(node, "src"))
            image.source = SafeUrl(m_options.base, src, false);
        if (const char* alt = Attribute(node, "alt"))
            image.alt = alt;
        if (const char* title = Attribute(node, "title"))
            image.title = title;
        return m_options.image ? m_options.image(image) : ImageAltText(image);
    }

    void CopyAttribute(const GumboNode* node, const char* name) {
        if (const char* value = Attribute(node, name)) {
            m_out.append(' ').append(name).append("=\"");
            AppendXmlEscaped(m_out, value);
            m_out.append('"');
        }
    }

    void UrlAttribute(const GumboNode* node, const char* name) {
        const char* value = Attribute(node, name);
        const QUrl url = value ? SafeUrl(m_options.base, value, false) : QUrl();
        if (!url.isEmpty()) {
            m_out.append(' ').append(name).append("=\"");
            AppendXmlEscaped(m_out, url.toEncoded());
            m_out.append('"');
        }
    }

    void NumberAttribute(const GumboNode* node, const char* name, int lowest, int highest) {
        const char* value = Attribute(node, name);
        bool ok = false;
        const int number = value ? QByteArray(value).trimmed().toInt(&ok) : 0;
        if (ok && number >= lowest && number <= highest)
            m_out.append(' ').append(name).append("=\"").append(QByteArray::number(number)).append('"');
    }

    // Right-to-left text (Arabic, Hebrew, Persian feeds) keeps its direction.
    void Direction(const GumboNode* node) {
        const char* dir = Attribute(node, "dir");
        if (!dir)
            return;
        const QByteArray value = QByteArray(dir).trimmed().toLower();
        if (value == "rtl" || value == "ltr" || value == "auto")
            m_out.append(" dir=\"").append(value).append('"');
    }

    static int FirstNode(const Frame& frame) {
        for (unsigned i = 0; i < frame.children->length; ++i)
            if (!IsBlank(static_cast<const GumboNode*>(frame.children->data[i])))
                return int(i);
        return -1;
    }

    static void MarkEnds(Frame& frame) {
        frame.firstNode = FirstNode(frame);
        for (int i = int(frame.children->length) - 1; i >= 0; --i) {
            if (!IsBlank(static_cast<const GumboNode*>(frame.children->data[i]))) {
                frame.lastNode = i;
                break;
            }
        }
    }

    static bool IsFigcaption(const Frame& frame, int index) {
        if (index < 0)
            return false;
        const auto* node = static_cast<const GumboNode*>(frame.children->data[index]);
        return node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == GUMBO_TAG_FIGCAPTION;
    }

    const HtmlOptions& m_options;
    QByteArray& m_out;
    QByteArray& m_text;
    std::vector<Frame> m_stack;
};

// Text with tags in it only once its entities are decoded: the publisher escaped it twice.
bool IsEscapedTwice(QByteArrayView html) {
    if (html.contains('<'))
        return false;
    for (qsizetype at = html.indexOf("&lt;"); at >= 0; at = html.indexOf("&lt;", at + 4)) {
        const char next = at + 4 < html.size() ? html[at + 4] : 0;
        if ((next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z') || next == '/' || next == '!')
            return true;
    }
    return false;
}

// The HTML up to its kMaxTags-th tag.
QByteArrayView LimitTags(QByteArrayView html, bool& shortened) {
    qsizetype tags = 0;
    for (qsizetype at = html.indexOf('<'); at >= 0; at = html.indexOf('<', at + 1)) {
        if (++tags > kMaxTags) {
            shortened = true;
            return html.first(at);
        }
    }
    return html;
}

} // namespace

QByteArray ImageAltText(const ImageInfo& image) {
    return XmlEscaped(CollapseSpaces(image.alt));
}

SanitizedHtml SanitizeHtml(QByteArrayView html, const HtmlOptions& options) {
    SanitizedHtml result;
    QByteArray unescaped;
    if (IsEscapedTwice(html)) {
        unescaped = DecodeCharacterReferences(html);
        html = unescaped;
    }
    const QByteArrayView taken = LimitTags(html, result.shortened);
    const HtmlTree fragment(taken, GUMBO_TAG_DIV);
    if (const GumboNode* root = fragment.Root()) {
        result.xhtml.reserve(taken.size() + taken.size() / 8);
        Writer(options, result.xhtml, result.text).Write(root);
    }
    if (options.textLimit > 0)
        result.text = CollapseSpaces(result.text).left(options.textLimit);
    return result;
}

QByteArray HtmlToText(QByteArrayView html) {
    HtmlOptions options;
    options.textLimit = int(qMin<qsizetype>(html.size() + 1, 1 << 30));
    return SanitizeHtml(html, options).text;
}

QByteArray DecodeCharacterReferences(QByteArrayView text) {
    bool references = false;
    for (qsizetype at = text.indexOf('&'); at >= 0 && !references; at = text.indexOf('&', at + 1)) {
        const char next = at + 1 < text.size() ? text[at + 1] : 0;
        references = next == '#' || (next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z');
    }
    if (!references)
        return text.toByteArray();
    // With every '<' escaped the parser sees nothing but text and references.
    QByteArray escaped;
    escaped.reserve(text.size() + 16);
    for (const char c : text) {
        if (c == '<')
            escaped.append("&lt;");
        else
            escaped.append(c);
    }
    const HtmlTree fragment(escaped, GUMBO_TAG_DIV);
    QByteArray decoded;
    if (const GumboNode* root = fragment.Root()) {
        const GumboVector& children = root->v.element.children;
        for (unsigned i = 0; i < children.length; ++i) {
            const auto* node = static_cast<const GumboNode*>(children.data[i]);
            if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE)
                decoded.append(node->v.text.text);
        }
    }
    return decoded;
}

QUrl SafeUrl(const QUrl& base, QByteArrayView raw, bool allowMail) {
    QByteArray cleaned;
    cleaned.reserve(raw.size());
    for (const char c : raw) {
        if (c != '\t' && c != '\n' && c != '\r')
            cleaned.append(c);
    }
    qsizetype start = 0, end = cleaned.size();
    while (start < end && uchar(cleaned[start]) <= 0x20)
        ++start;
    while (end > start && uchar(cleaned[end - 1]) <= 0x20)
        --end;
    if (start == end)
        return QUrl();
    QUrl url(QString::fromUtf8(cleaned.mid(start, end - start)), QUrl::TolerantMode);
    if (!url.isValid())
        return QUrl();
    if (url.isRelative()) {
        if (!base.isValid() || base.isRelative())
            return QUrl();
        url = base.resolved(url);
    }
    const QString scheme = url.scheme().toLower();
    if ((scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty())
        return url;
    if (allowMail && scheme == QLatin1String("mailto") && !url.path().isEmpty())
        return url;
    return QUrl();
}

QByteArray CollapseSpaces(QByteArrayView text) {
    QByteArray out;
    out.reserve(text.size());
    bool space = false;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
            space = !out.isEmpty();
            continue;
        }
        if (space)
            out.append(' ');
        space = false;
        out.append(c);
    }
    return out;
}

} // namespace ebook
