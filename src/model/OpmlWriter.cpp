#include "model/OpmlWriter.h"

#include "base/AtomicFile.h"
#include "base/XmlText.h"

#include <QIODevice>

#include <cstring>
#include <string_view>
#include <vector>

namespace {

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
        char* out = Room(name.size() + 4 + text.size() * kXmlEscapedGrowth);
        *out++ = ' ';
        std::memcpy(out, name.data(), name.size());
        out += name.size();
        *out++ = '=';
        *out++ = '"';
        out = EscapeXmlInto(out, text, XmlEscaping::ExactAttribute);
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
    return WriteFileAtomically(
        path, [&](QIODevice& out) { return WriteOpml(out, tree, form); }, error);
}
