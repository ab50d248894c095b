#pragma once

#include <QByteArrayView>

#include <gumbo.h>

#include <memory>

namespace ebook {

// One HTML5 parse. Gumbo's nodes all come from an arena of this object and go at once with
// it: freeing gumbo's tree node by node would recurse as deep as the document nests.
class HtmlTree {
public:
    // A whole document.
    explicit HtmlTree(QByteArrayView html);
    // A fragment, as if it stood inside an element `context`.
    HtmlTree(QByteArrayView html, GumboTag context);
    ~HtmlTree();
    HtmlTree(const HtmlTree&) = delete;
    HtmlTree& operator=(const HtmlTree&) = delete;

    // The <html> element; of a fragment, the element whose children are its nodes.
    const GumboNode* Root() const { return m_output ? m_output->root : nullptr; }

private:
    class Arena;
    void Parse(QByteArrayView html, GumboTag context);

    std::unique_ptr<Arena> m_arena;
    GumboOutput* m_output = nullptr;
};

// The value of an attribute of an element, or null.
inline const char* Attribute(const GumboNode* node, const char* name) {
    const GumboAttribute* attribute = gumbo_get_attribute(&node->v.element.attributes, name);
    return attribute ? attribute->value : nullptr;
}

} // namespace ebook
