#include "model/OpmlWriter.h"

#include <QIODevice>
#include <QSaveFile>

#include <array>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

// What EscapeXml does with each byte: copy it, replace or drop it (an ASCII byte
// that needs an entity or that XML forbids), or check the UTF-8 sequence it starts.
enum ByteClass : unsigned char { Copy, Ascii, Lead };

constexpr std::array<ByteClass, 256> MakeByteClasses() {
    std::array<ByteClass, 256> classes{};
    for (int c = 0; c < 256; ++c)
        classes[c] = c < 0x20 ? Ascii : c < 0x80 ? Copy : Lead;
    for (char c : {'&', '"', '\'', '<', '>'})
        classes[static_cast<unsigned char>(c)] = Ascii;
    return classes;
}
constexpr std::array<ByteClass, 256> kByteClasses = MakeByteClasses();

std::string_view AsciiReplacement(unsigned char c) {
    switch (c) {
    case '&':
        return "&amp;";
    case '"':
        return "&quot;";
    case '\'':
        return "&apos;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '\t':
        return "&#9;";
    case '\n':
        return "&#10;";
    case '\r':
        return "&#13;";
    default:
        // The other control characters cannot appear in XML 1.0 at all, not even as references.
        return "";
    }
}

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at `s`, or 0 when it is broken.
size_t Utf8SequenceLength(const unsigned char* s, size_t left) {
    const unsigned char lead = s[0];
    size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (left < length || s[1] < low || s[1] > high)
        return 0;
    for (size_t i = 2; i < length; ++i) {
        if (!IsContinuation(s[i]))
            return 0;
    }
    return length;
}

// No byte grows to more than this when escaped ("&quot;").
constexpr size_t kMaxExpansion = 6;

// Writes `value` escaped for an attribute to `out`, which has room for
// kMaxExpansion bytes per byte of it, and returns the end. Broken UTF-8 becomes
// U+FFFD and the non-characters U+FFFE and U+FFFF are dropped, since either would
// make the file unreadable on the next load.
char* EscapeInto(char* out, std::string_view value) {
    const auto* s = reinterpret_cast<const unsigned char*>(value.data());
    const size_t size = value.size();
    size_t run = 0;
    for (size_t i = 0; i < size;) {
        const ByteClass byteClass = kByteClasses[s[i]];
        if (byteClass == Copy) {
            ++i;
            continue;
        }
        size_t length = 1;
        std::string_view replacement = ""; // the non-characters are dropped
        if (byteClass == Ascii) {
            replacement = AsciiReplacement(s[i]);
        } else {
            length = Utf8SequenceLength(s + i, size - i);
            if (length == 0) {
                length = 1;
                replacement = "\xEF\xBF\xBD";
            } else if (!(length == 3 && s[i] == 0xEF && s[i + 1] == 0xBF && s[i + 2] >= 0xBE)) {
                i += length;
                continue;
            }
        }
        std::memcpy(out, value.data() + run, i - run);
        out += i - run;
        std::memcpy(out, replacement.data(), replacement.size());
        out += replacement.size();
        i += length;
        run = i;
    }
    std::memcpy(out, value.data() + run, size - run);
    return out + (size - run);
}

// Collects the document in a block and hands it to the device in large writes.
class OpmlOutput {
public:
    explicit OpmlOutput(QIODevice& device) : m_device(device), m_block(kBlockSize) {}

    bool Ok() const { return m_ok; }

    void Put(std::string_view text) {
        char* out = Room(text.size());
        std::memcpy(out, text.data(), text.size());
        Advance(out + text.size());
    }

    void Attribute(std::string_view name, const char* value) {
        if (!value)
            return;
        const std::string_view text(value);
        char* out = Room(name.size() + 4 + text.size() * kMaxExpansion);
        *out++ = ' ';
        std::memcpy(out, name.data(), name.size());
        out += name.size();
        *out++ = '=';
        *out++ = '"';
        out = EscapeInto(out, text);
        *out++ = '"';
        Advance(out);
    }

    bool Flush() {
        if (m_ok && m_used)
            m_ok = m_device.write(m_block.data(), qint64(m_used)) == qint64(m_used);
        m_used = 0;
        return m_ok;
    }

private:
    static constexpr size_t kBlockSize = 512 * 1024;

    char* Room(size_t size) {
        if (m_used + size > m_block.size()) {
            Flush();
            if (size > m_block.size())
                m_block.resize(size);
        }
        return m_block.data() + m_used;
    }
    void Advance(const char* end) { m_used = size_t(end - m_block.data()); }

    QIODevice& m_device;
    std::vector<char> m_block;
    size_t m_used = 0;
    bool m_ok = true;
};

// Other readers name an outline by its text, so an export gives every outline one.
const char* ExportedText(const COutlineItem& item) {
    return item.m_pszText ? item.m_pszText : item.m_pszTitle;
}

void PutGroupStart(OpmlOutput& out, const COutlineItem& item, OpmlForm form) {
    out.Put("<outline");
    out.Attribute("title", item.m_pszTitle);
    out.Attribute("description", item.m_pszDescription);
    out.Attribute("text", form == OpmlForm::Export ? ExportedText(item) : item.m_pszText);
    out.Put(">\r\n");
}

void PutLeaf(OpmlOutput& out, const COutlineItem& item, OpmlForm form) {
    // An empty group has nothing worth keeping.
    if (!item.IsFeed())
        return;
    const bool exported = form == OpmlForm::Export;
    out.Put("<outline");
    out.Attribute("title", item.m_pszTitle);
    out.Attribute("type", item.m_pszType);
    out.Attribute(exported ? "htmlUrl" : "htmlurl", item.m_pszHtmlUrl);
    out.Attribute(exported ? "xmlUrl" : "xmlurl", item.m_pszXmlUrl);
    out.Attribute("description", item.m_pszDescription);
    out.Attribute("text", exported ? ExportedText(item) : item.m_pszText);
    out.Put("/>\r\n");
}

// Walks the subtree with a stack of open groups on the heap, so nesting depth
// never becomes stack depth.
bool PutOutline(OpmlOutput& out, const OutlineTree& tree, OutlineTree::Node start, OpmlForm form) {
    std::vector<OutlineTree::Node> open;
    OutlineTree::Node node = start;
    for (;;) {
        if (!out.Ok())
            return false;
        if (OutlineTree::Node child = tree.FirstChild(node)) {
            PutGroupStart(out, *tree.Item(node), form);
            open.push_back(node);
            node = child;
            continue;
        }
        PutLeaf(out, *tree.Item(node), form);
        for (;;) {
            if (open.empty())
                return out.Ok();
            if (OutlineTree::Node next = tree.NextSibling(node)) {
                node = next;
                break;
            }
            node = open.back();
            open.pop_back();
            out.Put("</outline>\r\n");
        }
    }
}

} // namespace

OutlineTree::Node ModelOutlineTree::FirstChild(Node node) const {
    return static_cast<const COutlineItem*>(node)->m_pFirstChild;
}

OutlineTree::Node ModelOutlineTree::NextSibling(Node node) const {
    return static_cast<const COutlineItem*>(node)->m_pNext;
}

void EscapeXml(std::string& value) {
    std::string escaped(value.size() * kMaxExpansion, '\0');
    escaped.resize(size_t(EscapeInto(escaped.data(), value) - escaped.data()));
    value.swap(escaped);
}

bool WriteOutline(QIODevice& out, const OutlineTree& tree, OutlineTree::Node node, OpmlForm form) {
    OpmlOutput output(out);
    return PutOutline(output, tree, node, form) && output.Flush();
}

bool WriteOpml(QIODevice& out, const OutlineTree& tree, OpmlForm form) {
    OpmlOutput output(out);
    output.Put("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n"
               "<opml version=\"1.0\">\r\n"
               "<head>\r\n"
               "<title>News Subscriptions</title>\r\n"
               "</head>\r\n"
               "<body>\r\n");
    if (OutlineTree::Node root = tree.TopLevel()) {
        for (OutlineTree::Node node = tree.FirstChild(root); node; node = tree.NextSibling(node)) {
            if (!PutOutline(output, tree, node, form))
                return false;
        }
    }
    output.Put("</body>\r\n"
               "</opml>\r\n");
    return output.Flush();
}

bool WriteOpmlFile(const QString& path, const OutlineTree& tree, OpmlForm form, QString* error) {
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly) && WriteOpml(file, tree, form) && file.commit();
    if (!written) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
    }
    return written;
}
