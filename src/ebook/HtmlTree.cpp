#include "ebook/HtmlTree.h"

#include <QtGlobal>

#include <vector>

namespace ebook {

class HtmlTree::Arena {
public:
    static void* Allocate(void* arena, size_t size) { return static_cast<Arena*>(arena)->Take(size); }
    static void Release(void*, void*) {}

private:
    void* Take(size_t size) {
        size = (qMax<size_t>(size, 1) + 15) & ~size_t(15);
        if (size > m_left) {
            const size_t block = qMax(size, m_next);
            m_blocks.emplace_back(new std::max_align_t[block / sizeof(std::max_align_t) + 1]);
            m_free = reinterpret_cast<char*>(m_blocks.back().get());
            m_left = block;
            m_next = qMin<size_t>(m_next * 2, size_t(8) << 20);
        }
        void* taken = m_free;
        m_free += size;
        m_left -= size;
        return taken;
    }

    std::vector<std::unique_ptr<std::max_align_t[]>> m_blocks;
    char* m_free = nullptr;
    size_t m_left = 0;
    size_t m_next = size_t(64) << 10;
};

HtmlTree::HtmlTree(QByteArrayView html) : m_arena(std::make_unique<Arena>()) {
    Parse(html, GUMBO_TAG_LAST);
}

HtmlTree::HtmlTree(QByteArrayView html, GumboTag context) : m_arena(std::make_unique<Arena>()) {
    Parse(html, context);
}

HtmlTree::~HtmlTree() = default;

void HtmlTree::Parse(QByteArrayView html, GumboTag context) {
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &Arena::Allocate;
    options.deallocator = &Arena::Release;
    options.userdata = m_arena.get();
    options.max_errors = 0;
    options.fragment_context = context;
    m_output = gumbo_parse_with_options(&options, html.data(), size_t(html.size()));
}

} // namespace ebook
