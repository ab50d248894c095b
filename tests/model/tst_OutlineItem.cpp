#include "ModelTestUtil.h"
#include "testsupport.h"

using namespace pellavo::test;

namespace {

int g_destroyed = 0;

struct CountedItem : COutlineItem {
    ~CountedItem() override { ++g_destroyed; }
};

// Three children A, B, C under a group G.
std::unique_ptr<COutlineItem> threeChildren() {
    std::unique_ptr<COutlineItem> group(makeItem("G"));
    for (const char* title : {"A", "B", "C"})
        group->AppendChild(makeItem(title, "x"));
    return group;
}

bool linksConsistent(const COutlineItem& parent) {
    const COutlineItem* prev = nullptr;
    for (const COutlineItem* child = parent.m_pFirstChild; child; prev = child, child = child->m_pNext) {
        if (child->m_pPrev != prev || child->m_pParent != &parent)
            return false;
    }
    return true;
}

} // namespace

class TestOutlineItem : public QObject {
    Q_OBJECT

private slots:
    void appendChild() {
        COutlineItem parent;
        parent.AppendChild(nullptr);
        QVERIFY(!parent.m_pFirstChild);
        COutlineItem* first = makeItem("A");
        parent.AppendChild(first);
        QCOMPARE(parent.m_pFirstChild, first);
        QVERIFY(!first->m_pPrev && !first->m_pNext);
        parent.AppendChild(makeItem("B"));
        QCOMPARE(shape(parent.m_pFirstChild), QStringLiteral("A,B"));
        QVERIFY(linksConsistent(parent));
    }

    void removeChild_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("remaining");
        QTest::newRow("first") << 0 << QStringLiteral("B*,C*");
        QTest::newRow("middle") << 1 << QStringLiteral("A*,C*");
        QTest::newRow("last") << 2 << QStringLiteral("A*,B*");
    }
    void removeChild() {
        QFETCH(int, index);
        auto group = threeChildren();
        COutlineItem* child = group->m_pFirstChild;
        for (int i = 0; i < index; ++i)
            child = child->m_pNext;
        group->RemoveChild(child);
        std::unique_ptr<COutlineItem> removed(child);
        QFETCH(QString, remaining);
        QCOMPARE(shape(group->m_pFirstChild), remaining);
        QVERIFY(linksConsistent(*group));
        QVERIFY(!removed->m_pNext && !removed->m_pPrev);
        QCOMPARE(removed->m_pParent, group.get());

        group->RemoveChild(nullptr);
        COutlineItem childless;
        childless.RemoveChild(group->m_pFirstChild);
        QCOMPARE(shape(group->m_pFirstChild), remaining);
    }

    void insertChildAfter() {
        auto group = threeChildren();
        COutlineItem* a = group->m_pFirstChild;
        COutlineItem* c = a->m_pNext->m_pNext;
        QVERIFY(group->InsertChildAfter(makeItem("X"), a));
        QVERIFY(group->InsertChildAfter(makeItem("Y"), c));
        QCOMPARE(shape(group->m_pFirstChild), QStringLiteral("A*,X,B*,C*,Y"));
        QVERIFY(linksConsistent(*group));
        QVERIFY(!group->InsertChildAfter(nullptr, a));
        std::unique_ptr<COutlineItem> orphan(makeItem("Z"));
        QVERIFY(!group->InsertChildAfter(orphan.get(), nullptr));
        QVERIFY(!orphan->m_pParent);
    }

    void destructionTakesFollowingSiblings() {
        auto* parent = new CountedItem;
        CountedItem* children[3];
        for (auto*& child : children) {
            child = new CountedItem;
            parent->AppendChild(child);
            child->AppendChild(new CountedItem);
        }
        g_destroyed = 0;
        parent->RemoveChild(children[2]);
        delete children[2];
        QCOMPARE(g_destroyed, 2); // the item and its child, nothing else
        g_destroyed = 0;
        parent->RemoveChild(children[0]);
        children[0]->m_pNext = children[1]; // an item still linked to a follower takes it along
        delete children[0];
        QCOMPARE(g_destroyed, 4);
        parent->m_pFirstChild = nullptr;
        g_destroyed = 0;
        delete parent;
        QCOMPARE(g_destroyed, 1);
    }

    void clone() {
        auto group = threeChildren();
        COutlineItem* a = group->m_pFirstChild;
        COutlineItem::SetString(a->m_pszDescription, "");
        COutlineItem::SetString(a->m_pszText, "t");
        a->AppendChild(makeItem("", "y"));
        group->m_pFirstChild->m_pNext->AppendChild(makeItem("D", ""));

        std::unique_ptr<COutlineItem> copy(a->Clone());
        QVERIFY(!copy->m_pNext && !copy->m_pPrev && !copy->m_pParent);
        QCOMPARE(shape(copy.get()), QStringLiteral("A*(-*)"));
        QVERIFY(!copy->m_pszDescription);
        QCOMPARE(copy->m_pszText, "t");
        QVERIFY(copy->m_pszTitle != a->m_pszTitle);

        std::unique_ptr<COutlineItem> whole(group->Clone());
        // An empty address becomes null, so the copy of feed D is a group.
        QCOMPARE(shape(whole.get()), QStringLiteral("G(A*(-*),B*(D),C*)"));
        for (const COutlineItem* child = whole->m_pFirstChild; child; child = child->m_pNext)
            QVERIFY(linksConsistent(*child));
        QVERIFY(linksConsistent(*whole));
    }

    // Deep and wide trees must be built, copied and destroyed without exhausting the stack.
    void largeTrees() {
        std::unique_ptr<COutlineItem> deep(makeItem("root"));
        COutlineItem* bottom = deep.get();
        for (int i = 0; i < 100000; ++i) {
            COutlineItem* child = makeItem("d");
            bottom->AppendChild(child);
            bottom = child;
        }
        std::unique_ptr<COutlineItem> deepCopy(deep->Clone());
        int depth = 0;
        for (const COutlineItem* item = deepCopy.get(); item->m_pFirstChild; item = item->m_pFirstChild)
            ++depth;
        QCOMPARE(depth, 100000);

        std::unique_ptr<COutlineItem> wide(makeItem("root"));
        COutlineItem* last = makeItem("w", "x");
        wide->AppendChild(last);
        for (int i = 1; i < 200000; ++i) {
            COutlineItem* next = makeItem("w", "x");
            wide->InsertChildAfter(next, last);
            last = next;
        }
        std::unique_ptr<COutlineItem> wideCopy(wide->Clone());
        int count = 0;
        for (const COutlineItem* item = wideCopy->m_pFirstChild; item; item = item->m_pNext)
            ++count;
        QCOMPARE(count, 200000);
        QVERIFY(linksConsistent(*wideCopy));
    }
};

PELLAVO_TEST_MAIN(TestOutlineItem)
#include "tst_OutlineItem.moc"
