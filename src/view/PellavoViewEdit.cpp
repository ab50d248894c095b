// The editing commands: new groups and feeds, properties, the internal clipboard,
// delete and sort. Each changes the model and the nodes together and saves once.
#include "view/CPellavoView.h"

#include "view/PropertyDialogs.h"
#include "view/TreeOutline.h"

#include "model/TextConv.h"

#include <initializer_list>
#include <memory>
#include <utility>

namespace {

// A dialog field and the item string it shows, in the order the dialog exchanges them.
using Field = std::pair<QString*, char**>;

// Fills the fields whose strings are present (the others keep the dialog's defaults) and
// runs the dialog. On OK each field that is not empty replaces its string, so no string
// is ever cleared here, and `title` gets the first field as typed. False on Cancel.
bool ExchangeFields(PellavoDialog& dialog, std::initializer_list<Field> fields, QString* title) {
    for (const auto& [text, string] : fields) {
        if (*string)
            *text = Utf8ToAnsi(*string);
    }
    if (dialog.DoModal() != PellavoDialog::IDOK)
        return false;
    for (const auto& [text, string] : fields) {
        if (!text->isEmpty())
            COutlineItem::SetString(*string, AnsiToUtf8(*text).constData());
    }
    *title = *fields.begin()->first;
    return true;
}

unsigned char FoldCase(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? byte - 'A' + 'a' : byte;
}

// Sort By Name reorders the nodes, not the model's links: a copy follows what the user sees.
COutlineItem* CloneShown(const CPellavoView& view, const QTreeWidgetItem* node) {
    return CloneOutline(TreeOutline(view), node);
}

} // namespace

void CPellavoView::OnProperties() {
    QTreeWidgetItem* node = m_hCurrentItem;
    COutlineItem* item = ItemOf(node);
    if (!item)
        return;
    QString title;
    if (!EditItem(item, item->IsFeed(), &title))
        return;
    if (!title.isEmpty())
        node->setText(0, title);
    SaveChannel();
}

void CPellavoView::OnNewGroup() {
    NewItem(false);
}

void CPellavoView::OnNewFeed() {
    NewItem(true);
}

void CPellavoView::NewItem(bool feed) {
    QTreeWidgetItem* targetNode = m_hCurrentItem;
    COutlineItem* target = ItemOf(targetNode);
    if (!target)
        return;
    auto item = std::make_unique<COutlineItem>();
    QString title;
    if (!EditItem(item.get(), feed, &title))
        return;
    COutlineItem* added = item.release();
    target->AppendChild(added);
    QTreeWidgetItem* node = InsertItemTree(added, targetNode);
    // A new feed looks like one even when its address was left empty.
    if (feed)
        node->setIcon(0, m_iconFeed);
    SaveChannel();
    UpdateAncestorMarks(targetNode);
}

bool CPellavoView::EditItem(COutlineItem* item, bool feed, QString* title) {
    if (feed) {
        CChannelProp dialog(this);
        return ExchangeFields(dialog,
                              {{&dialog.m_strTitle, &item->m_pszTitle},
                               {&dialog.m_strXmlUrl, &item->m_pszXmlUrl},
                               {&dialog.m_strHtmlUrl, &item->m_pszHtmlUrl},
                               {&dialog.m_strDescription, &item->m_pszDescription}},
                              title);
    }
    CDlgGroupProp dialog(this);
    return ExchangeFields(
        dialog,
        {{&dialog.m_strTitle, &item->m_pszTitle}, {&dialog.m_strDescription, &item->m_pszDescription}},
        title);
}

void CPellavoView::OnTreeCut() {
    const COutlineItem* item = ItemOf(m_hCurrentItem);
    if (!item || !m_hCurrentItem->parent())
        return;
    m_pClipItem.reset(CloneShown(*this, m_hCurrentItem));
    RemoveNode(m_hCurrentItem, true);
}

void CPellavoView::OnTreeCopy() {
    if (ItemOf(m_hCurrentItem))
        m_pClipItem.reset(CloneShown(*this, m_hCurrentItem));
}

void CPellavoView::OnTreePaste() {
    QTreeWidgetItem* targetNode = m_hCurrentItem;
    COutlineItem* target = ItemOf(targetNode);
    if (!m_pClipItem || !target)
        return;
    COutlineItem* copy = m_pClipItem->Clone();
    target->AppendChild(copy);
    // The pasted node takes the selection, so that the keys act on what was just pasted.
    setCurrentItem(InsertItemTree(copy, targetNode));
    SaveChannel();
    if (QTreeWidgetItem* parent = targetNode->parent())
        UpdateAncestorMarks(parent);
}

void CPellavoView::OnTreeDelete() {
    ConfirmDelete(m_hCurrentItem, true);
}

void CPellavoView::OnDeleteKey() {
    ConfirmDelete(SelectedNode(), false);
}

void CPellavoView::ConfirmDelete(QTreeWidgetItem* node, bool updateMarks) {
    if (!ItemOf(node) || !node->parent())
        return;
    CDlgDeleteConfirm confirm(this);
    if (confirm.DoModal() != PellavoDialog::IDOK)
        return;
    RemoveNode(node, updateMarks);
}

void CPellavoView::RemoveNode(QTreeWidgetItem* node, bool updateMarks) {
    QTreeWidgetItem* parent = node->parent();
    COutlineItem* item = ItemOf(node);
    if (!parent || !item || !item->m_pParent)
        return;
    item->m_pParent->RemoveChild(item);
    // Unlinked, the item and its subtree are ours to destroy.
    const std::unique_ptr<COutlineItem> removed(item);
    DestroyNodeTree(node);
    SaveChannel();
    if (updateMarks)
        UpdateAncestorMarks(parent);
}

void CPellavoView::OnSortByName() {
    if (!m_hCurrentItem)
        return;
    // The level that holds the node is sorted, not its children. The tree's sort is
    // stable, so equal names keep their order; the model's links keep theirs.
    if (QTreeWidgetItem* parent = m_hCurrentItem->parent())
        parent->sortChildren(0, Qt::AscendingOrder);
    SaveChannel();
}

int CPellavoView::CompareByName(const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
    const COutlineItem* first = ItemOf(a);
    const COutlineItem* second = ItemOf(b);
    if (!first || !second)
        return 0;
    if (first->IsFeed() != second->IsFeed())
        return first->IsFeed() ? 1 : -1;
    // An item without a title goes by the label it shows.
    const char* x = LabelBytes(first);
    const char* y = LabelBytes(second);
    for (; *x && FoldCase(*x) == FoldCase(*y); ++x, ++y) {
    }
    return int(FoldCase(*x)) - int(FoldCase(*y));
}

void CPellavoView::OnEditCut() {
    m_hCurrentItem = SelectedNode();
    OnTreeCut();
}

void CPellavoView::OnEditCopy() {
    m_hCurrentItem = SelectedNode();
    OnTreeCopy();
}

void CPellavoView::OnEditPaste() {
    m_hCurrentItem = SelectedNode();
    OnTreePaste();
}
