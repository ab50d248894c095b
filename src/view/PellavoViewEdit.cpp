// The editing commands: new groups and feeds, properties, the internal clipboard,
// delete and sort. Each changes the model and the nodes together and saves once.
#include "view/CPellavoView.h"

#include "view/PropertyDialogs.h"

#include "model/TextConv.h"

#include <memory>

namespace {

// Stores a dialog field into an item string; an empty field keeps what is stored.
bool StoreField(char*& field, const QString& text) {
    if (text.isEmpty())
        return false;
    COutlineItem::SetString(field, AnsiToUtf8(text).constData());
    return true;
}

unsigned char FoldCase(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? byte - 'A' + 'a' : byte;
}

} // namespace

void CPellavoView::OnProperties() {
    QTreeWidgetItem* node = m_hCurrentItem;
    COutlineItem* item = ItemOf(node);
    if (!item)
        return;
    QString title;
    if (item->IsFeed()) {
        CChannelProp dialog(this);
        if (item->m_pszTitle)
            dialog.m_strTitle = Utf8ToAnsi(item->m_pszTitle);
        if (item->m_pszXmlUrl)
            dialog.m_strXmlUrl = Utf8ToAnsi(item->m_pszXmlUrl);
        if (item->m_pszHtmlUrl)
            dialog.m_strHtmlUrl = Utf8ToAnsi(item->m_pszHtmlUrl);
        if (item->m_pszDescription)
            dialog.m_strDescription = Utf8ToAnsi(item->m_pszDescription);
        if (dialog.DoModal() != PellavoDialog::IDOK)
            return;
        if (StoreField(item->m_pszTitle, dialog.m_strTitle))
            title = dialog.m_strTitle;
        StoreField(item->m_pszXmlUrl, dialog.m_strXmlUrl);
        StoreField(item->m_pszHtmlUrl, dialog.m_strHtmlUrl);
        StoreField(item->m_pszDescription, dialog.m_strDescription);
    } else {
        CDlgGroupProp dialog(this);
        if (item->m_pszTitle)
            dialog.m_strTitle = Utf8ToAnsi(item->m_pszTitle);
        if (item->m_pszDescription)
            dialog.m_strDescription = Utf8ToAnsi(item->m_pszDescription);
        if (dialog.DoModal() != PellavoDialog::IDOK)
            return;
        if (StoreField(item->m_pszTitle, dialog.m_strTitle))
            title = dialog.m_strTitle;
        StoreField(item->m_pszDescription, dialog.m_strDescription);
    }
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
    if (feed) {
        CChannelProp dialog(this);
        if (dialog.DoModal() != PellavoDialog::IDOK)
            return;
        StoreField(item->m_pszTitle, dialog.m_strTitle);
        StoreField(item->m_pszXmlUrl, dialog.m_strXmlUrl);
        StoreField(item->m_pszHtmlUrl, dialog.m_strHtmlUrl);
        StoreField(item->m_pszDescription, dialog.m_strDescription);
    } else {
        CDlgGroupProp dialog(this);
        if (dialog.DoModal() != PellavoDialog::IDOK)
            return;
        StoreField(item->m_pszTitle, dialog.m_strTitle);
        StoreField(item->m_pszDescription, dialog.m_strDescription);
    }
    COutlineItem* added = item.release();
    target->AppendChild(added);
    QTreeWidgetItem* node = InsertItemTree(added, targetNode);
    // A new feed looks like one even when its address was left empty.
    if (feed)
        node->setIcon(0, m_iconFeed);
    SaveChannel();
    UpdateAncestorMarks(targetNode);
}

void CPellavoView::OnTreeCut() {
    const COutlineItem* item = ItemOf(m_hCurrentItem);
    if (!item || !m_hCurrentItem->parent())
        return;
    m_pClipItem.reset(item->Clone());
    RemoveNode(m_hCurrentItem, true);
}

void CPellavoView::OnTreeCopy() {
    if (const COutlineItem* item = ItemOf(m_hCurrentItem))
        m_pClipItem.reset(item->Clone());
}

void CPellavoView::OnTreePaste() {
    QTreeWidgetItem* targetNode = m_hCurrentItem;
    COutlineItem* target = ItemOf(targetNode);
    if (!m_pClipItem || !target)
        return;
    COutlineItem* copy = m_pClipItem->Clone();
    target->AppendChild(copy);
    InsertItemTree(copy, targetNode);
    SaveChannel();
    if (QTreeWidgetItem* parent = targetNode->parent())
        UpdateAncestorMarks(parent);
}

void CPellavoView::OnTreeDelete() {
    QTreeWidgetItem* node = m_hCurrentItem;
    if (!ItemOf(node) || !node->parent())
        return;
    CDlgDeleteConfirm confirm(this);
    if (confirm.DoModal() != PellavoDialog::IDOK)
        return;
    RemoveNode(node, true);
}

void CPellavoView::OnDeleteKey() {
    QTreeWidgetItem* node = SelectedNode();
    if (!ItemOf(node) || !node->parent())
        return;
    CDlgDeleteConfirm confirm(this);
    if (confirm.DoModal() != PellavoDialog::IDOK)
        return;
    RemoveNode(node, false);
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
