#include "Zel_listviews.h"

#include <QAbstractItemModel>
#include <QAccessible>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int F = lvisFocused;
constexpr int S = lvisSelected;

std::vector<int> States(const TCustomListView& view)
{
    std::vector<int> states;
    for (int i = 0; i < view.ItemCount(); ++i)
        states.push_back(GetListViewItemState(view, i));
    return states;
}

void SetStates(TCustomListView& view, const std::vector<int>& states)
{
    for (std::size_t i = 0; i < states.size(); ++i)
        SetListViewItemState(view, static_cast<int>(i), states[i]);
}

struct TVirtualFixture {
    explicit TVirtualFixture(const std::vector<int>& states)
    {
        View.SetItemCount(static_cast<int>(states.size()));
        SetStates(View, states);
    }
    TVirtualListView View;
};

std::string ExceptionMessage(const std::function<void()>& f)
{
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "no exception";
}

const std::string IndexError = "The index is invalid to the list view.";

} // namespace

TEST(Zel_listviews, SingleRowFunctionsCheckIndicesAndKeepOneFocus)
{
    TVirtualFixture f({0, 0, 0});
    TVirtualListView& view = f.View;
    EXPECT_EQ(ExceptionMessage([&] { CheckListViewIndex(view, -1); }), IndexError);
    EXPECT_EQ(ExceptionMessage([&] { CheckListViewIndex(view, 3); }), IndexError);
    EXPECT_THROW(GetListViewItemState(view, 3), EInvalidOperation);
    EXPECT_THROW(SetListViewItemSelected(view, -1, true), EInvalidOperation);
    EXPECT_THROW(EnsureListViewItemVisible(view, 3, true), EInvalidOperation);
    EXPECT_NO_THROW(CheckListViewIndex(view, 2));

    SetListViewItemState(view, 1, 0xFF); // only the four state bits are stored
    EXPECT_EQ(GetListViewItemState(view, 1), 15);
    SetListViewItemFocused(view, 2, true); // takes the focus from row 1
    EXPECT_EQ(States(view), (std::vector<int>{0, 14, F}));
    EXPECT_EQ(view.ItemFocused(), 2);
    SetListViewItemFocused(view, 2, false);
    EXPECT_EQ(view.ItemFocused(), -1);

    SetListViewItemSelected(view, 0, true);
    EXPECT_TRUE(IsListViewItemSelected(view, 0));
    EXPECT_EQ(view.SelectedCount(), 2);
    SetListViewItemSelected(view, 1, false);
    EXPECT_EQ(GetListViewItemState(view, 1), lvisCut | lvisDropHilited);
    EXPECT_EQ(view.SelectedCount(), 1);
}

TEST(Zel_listviews, VirtualInsertShiftsStatesAndLeavesNewRowsEmpty)
{
    TVirtualFixture f({0, 0, S});
    InsertListViewItems(f.View, {1});
    EXPECT_EQ(States(f.View), (std::vector<int>{0, 0, 0, S}));

    TVirtualFixture g({S, F, S | lvisCut});
    InsertListViewItems(g.View, {0, 2, 5});
    EXPECT_EQ(States(g.View), (std::vector<int>{0, S, 0, F, S | lvisCut, 0}));
    EXPECT_EQ(g.View.ItemFocused(), 3);
    EXPECT_EQ(g.View.SelectedCount(), 2);

    // Bad lists change nothing.
    const std::vector<int> before = States(g.View);
    EXPECT_THROW(InsertListViewItems(g.View, {1, 1}), EInvalidOperation);
    EXPECT_THROW(InsertListViewItems(g.View, {3, 2}), EInvalidOperation);
    EXPECT_THROW(InsertListViewItems(g.View, {7}), EInvalidOperation); // beyond count + k
    EXPECT_EQ(States(g.View), before);
    InsertListViewItems(g.View, {});
    EXPECT_EQ(States(g.View), before);
}

TEST(Zel_listviews, VirtualDeleteHandsTheFocusOver)
{
    TVirtualFixture middle({S, 0, F, 0, S});
    DeleteListViewItems(middle.View, {2, 3});
    EXPECT_EQ(States(middle.View), (std::vector<int>{S, 0, S | F}));
    EXPECT_EQ(middle.View.ItemFocused(), 2);
    EXPECT_EQ(middle.View.SelectedCount(), 2);

    TVirtualFixture end({0, 0, S, S, F | S});
    DeleteListViewItems(end.View, {3, 4});
    EXPECT_EQ(States(end.View), (std::vector<int>{0, 0, S | F}));
    EXPECT_EQ(end.View.SelectedCount(), 1);

    TVirtualFixture before({F, S, 0, S});
    DeleteListViewItems(before.View, {1, 3});
    EXPECT_EQ(States(before.View), (std::vector<int>{F, 0}));
    EXPECT_EQ(before.View.ItemFocused(), 0);
    EXPECT_EQ(before.View.SelectedCount(), 0);

    TVirtualFixture all({S, F});
    DeleteListViewItems(all.View, {0, 1});
    EXPECT_EQ(all.View.ItemCount(), 0);
    EXPECT_EQ(all.View.ItemFocused(), -1);
    EXPECT_EQ(all.View.SelectedCount(), 0);

    TVirtualFixture bad({S, F});
    EXPECT_THROW(DeleteListViewItems(bad.View, {0, 2}), EInvalidOperation);
    EXPECT_EQ(States(bad.View), (std::vector<int>{S, F}));
}

TEST(Zel_listviews, VirtualReorderAndSwapMoveStatesWithTheirRows)
{
    // Move rows 0 and 2 down by one (every other row of five, as a move-down does).
    TVirtualFixture f({S, 0, S | F, 0, lvisCut});
    ReorderListViewItems(f.View, {{0, 1}, {1, 0}, {2, 3}, {3, 2}});
    EXPECT_EQ(States(f.View), (std::vector<int>{0, S, 0, S | F, lvisCut}));
    EXPECT_EQ(f.View.ItemFocused(), 3);
    EXPECT_EQ(f.View.SelectedCount(), 2);

    // A full reversal.
    ReorderListViewItems(f.View, {{0, 4}, {1, 3}, {2, 2}, {3, 1}, {4, 0}});
    EXPECT_EQ(States(f.View), (std::vector<int>{lvisCut, S | F, 0, S, 0}));
    EXPECT_EQ(f.View.ItemFocused(), 1);
    EXPECT_THROW(ReorderListViewItems(f.View, {{0, 5}, {5, 0}}), EInvalidOperation);

    SwapListViewItems(f.View, 1, 4);
    EXPECT_EQ(States(f.View), (std::vector<int>{lvisCut, 0, 0, S, S | F}));
    EXPECT_EQ(f.View.ItemFocused(), 4);
    EXPECT_THROW(SwapListViewItems(f.View, 5, 5), EInvalidOperation);
    SwapListViewItems(f.View, 2, 2);
    EXPECT_EQ(f.View.ItemFocused(), 4);
}

TEST(Zel_listviews, SelectionIsSetExactlyReversedAndRead)
{
    TVirtualFixture f({S, S | F, S, 0, S});
    SetListViewSelection(f.View, {4});
    EXPECT_EQ(States(f.View), (std::vector<int>{0, F, 0, 0, S}));
    SetListViewSelection(f.View, {1});
    EXPECT_EQ(States(f.View), (std::vector<int>{0, S | F, 0, 0, 0}));
    SetListViewSelection(f.View, {}); // nothing at all
    EXPECT_EQ(GetListViewSelection(f.View), (TIntegerDynArray{1}));
    SetListViewSelection(f.View, {0, 3, 9});
    EXPECT_EQ(GetListViewSelection(f.View), (TIntegerDynArray{0, 3}));
    EXPECT_EQ(f.View.SelectedCount(), 2);

    TVirtualFixture g({S, F, S, 0});
    ReverseListViewSelection(g.View);
    EXPECT_EQ(States(g.View), (std::vector<int>{0, S | F, 0, S}));
    EXPECT_EQ(GetListViewSelection(g.View), (TIntegerDynArray{1, 3}));
    EXPECT_EQ(g.View.SelectedCount(), 2);

    TVirtualListView empty;
    ReverseListViewSelection(empty);
    EXPECT_TRUE(GetListViewSelection(empty).empty());
    EXPECT_EQ(empty.SelectedCount(), 0);
}

TEST(Zel_listviews, OrdinaryKindMovesItemsButLeavesStatesOnSwapAndReorder)
{
    TItemListView view;
    view.SetColumns({{"Name"}});
    for (const char* caption : {"a", "b", "c"})
        view.AddItem(TListItem{caption, {std::string(caption) + "1"}, 0, -1, {}});
    SetStates(view, {S, 0, F});

    InsertListViewItems(view, {0, 2});
    ASSERT_EQ(view.ItemCount(), 5);
    EXPECT_EQ(view.Item(0), TListItem());
    EXPECT_EQ(view.Item(1).Caption, "a");
    EXPECT_EQ(view.Item(2), TListItem());
    EXPECT_EQ(view.Item(4).Caption, "c");
    EXPECT_EQ(States(view), (std::vector<int>{0, S, 0, 0, F}));

    DeleteListViewItems(view, {0, 2, 4});
    EXPECT_EQ(view.Item(0).Caption, "a");
    EXPECT_EQ(view.Item(1).Caption, "b");
    EXPECT_EQ(States(view), (std::vector<int>{S, 0}));
    EXPECT_EQ(view.ItemFocused(), -1);

    SwapListViewItems(view, 0, 1);
    EXPECT_EQ(view.Item(0).Caption, "b");
    EXPECT_EQ(view.Item(0).SubItems, (TStringDynArray{"b1"}));
    EXPECT_EQ(States(view), (std::vector<int>{S, 0}));

    view.AddItem(TListItem{"c", {}, 1, 2, {}});
    ReorderListViewItems(view, {{0, 2}, {1, 0}, {2, 1}});
    EXPECT_EQ(view.Item(0).Caption, "a");
    EXPECT_EQ(view.Item(1).Caption, "c");
    EXPECT_EQ(view.Item(1).StateIndex, 2);
    EXPECT_EQ(view.Item(2).Caption, "b");
    EXPECT_EQ(view.model()->data(view.model()->index(1, 0)).toString(), QString("c"));
    EXPECT_THROW(view.Item(3), EInvalidOperation);
}

TEST(Zel_listviews, UpdateBracketsReachQtOnceAtTheOutermostEnd)
{
    TVirtualListView view;
    view.SetColumns({{"Name", 100, TAlignment::LeftJustify}, {"Size", 60, TAlignment::RightJustify}});
    view.OnData = [](TVirtualListView&, int row, TListItem& item) {
        item.Caption = "row " + std::to_string(row);
        item.SubItems = {std::to_string(row * 10)};
    };
    QAbstractItemModel& model = *view.model();
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);

    view.BeginUpdate();
    view.SetItemCount(10);
    view.BeginUpdate();
    InsertListViewItems(view, {0, 5});
    EnsureListViewItemVisible(view, 11, false);
    view.EndUpdate();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(inserted.count(), 0);
    view.EndUpdate();
    EXPECT_EQ(model.rowCount(), 12);
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted.at(0).at(1).toInt(), 0);
    EXPECT_EQ(inserted.at(0).at(2).toInt(), 11);

    DeleteListViewItems(view, {0, 3, 11});
    EXPECT_EQ(model.rowCount(), 9);
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed.at(0).at(1).toInt(), 9); // cut at the end, never row by row

    EXPECT_EQ(model.data(model.index(4, 1)).toString(), QString("40"));
    EXPECT_EQ(model.data(model.index(4, 1), Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QString("Size"));
    EXPECT_EQ(view.GetColumnWidth(1), 60);
    view.SetColumnWidth(1, 75);
    EXPECT_EQ(view.GetColumnWidth(1), 75);
    EXPECT_THROW(view.SetColumnWidth(2, 10), EListError);
}

namespace {

// A shown view of 40 rows with a row height the tests can click on.
struct TShownView {
    TShownView()
    {
        View.SetColumns({{"Name", 150, TAlignment::LeftJustify}, {"Result", 100, TAlignment::LeftJustify}});
        View.OnData = [this](TVirtualListView&, int row, TListItem& item) {
            ++DataCalls;
            item.Caption = "Document " + std::to_string(row);
            item.SubItems = {ResultText};
        };
        View.OnChange = [this](TCustomListView&, int row, TItemChange change) {
            Changes.push_back(row);
            EXPECT_EQ(change, TItemChange::State);
        };
        View.SetItemCount(40);
        View.resize(400, 300);
        View.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&View));
        View.setFocus();
    }

    QPoint RowCenter(int row) const { return View.visualRect(View.model()->index(row, 0)).center(); }
    void Click(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(View.viewport(), button, modifiers, RowCenter(row));
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { QTest::keyClick(&View, key, modifiers); }
    TIntegerDynArray Selection() const { return GetListViewSelection(View); }
    std::vector<int> TakeChanges() { return std::exchange(Changes, {}); }

    TVirtualListView View;
    int DataCalls = 0;
    std::vector<int> Changes;
    std::string ResultText = "None";
};

} // namespace

TEST(Zel_listviews, MouseGesturesSetTheBitsAndNotifyOnce)
{
    TShownView t;
    t.Click(3);
    EXPECT_EQ(t.Selection(), (TIntegerDynArray{3}));
    EXPECT_EQ(t.View.ItemFocused(), 3);
    EXPECT_EQ(t.TakeChanges(), (std::vector<int>{3}));
    t.Click(3); // nothing changes, nothing is reported
    EXPECT_TRUE(t.TakeChanges().empty());

    t.Click(5, Qt::ControlModifier);
    EXPECT_EQ(t.Selection(), (TIntegerDynArray{3, 5}));
    EXPECT_EQ(t.View.ItemFocused(), 5);
    EXPECT_EQ(t.TakeChanges(), (std::vector<int>{-1})); // two rows changed in one gesture

    t.Click(8, Qt::ShiftModifier); // from the anchor, row 5; row 3 is dropped
    EXPECT_EQ(t.Selection(), (TIntegerDynArray{5, 6, 7, 8}));
    EXPECT_EQ(t.View.ItemFocused(), 8);
    EXPECT_EQ(t.TakeChanges().size(), 1u);

    t.Click(1, Qt::ControlModifier | Qt::ShiftModifier); // adds the range, keeps the rest
    EXPECT_EQ(t.Selection(), (TIntegerDynArray{1, 2, 3, 4, 5, 6, 7, 8}));
    t.Click(4, Qt::ControlModifier);
    EXPECT_FALSE(IsListViewItemSelected(t.View, 4));

    t.Click(6, Qt::NoModifier, Qt::RightButton); // inside the selection: only the focus moves
    EXPECT_EQ(t.Selection(), (TIntegerDynArray{1, 2, 3, 5, 6, 7, 8}));
    EXPECT_EQ(t.View.ItemFocused(), 6);
    t.Click(20, Qt::NoModifier, Qt::RightButton);
    EXPECT_EQ(t.Selection(), (TIntegerDynArray{20}));
    t.TakeChanges();

    t.View.SetItemCount(3); // row 20 and its state go with the count
    EXPECT_TRUE(t.Selection().empty());
    EXPECT_EQ(t.View.ItemFocused(), -1);
    t.Click(1);
    t.TakeChanges();
    const QPoint below(10, t.View.viewport()->height() - 2);
    QTest::mouseClick(t.View.viewport(), Qt::LeftButton, Qt::NoModifier, below);
    EXPECT_TRUE(t.Selection().empty());
    EXPECT_EQ(t.View.ItemFocused(), 1); // the focus stays
    EXPECT_EQ(t.TakeChanges(), (std::vector<int>{1}));
}

TEST(Zel_listviews, KeyboardGesturesSetTheBitsAndNotifyOnce)
{
    TShownView t;
    t.Key(Qt::Key_Down); // no focus yet: the first row
    EXPECT_EQ(t.Selection(), (TIntegerDynArray{0}));
    EXPECT_EQ(t.View.ItemFocused(), 0);
    t.Key(Qt::Key_Down);
    t.Key(Qt::Key_Down);
    EXPECT_EQ(t.Selection(), (TIntegerDynArray{2}));
    EXPECT_EQ(t.TakeChanges(), (std::vector<int>{0, -1, -1}));

    t.Key(Qt::Key_Down, Qt::ShiftModifier);
    t.Key(Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(t.Selection(), (TIntegerDynArray{2, 3, 4}));
    t.Key(Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(t.Selection(), (TIntegerDynArray{2, 3}));
    EXPECT_EQ(t.View.ItemFocused(), 3);

    t.Key(Qt::Key_Down, Qt::ControlModifier); // the focus alone moves
    t.Key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(t.View.ItemFocused(), 5);
    EXPECT_EQ(t.Selection(), (TIntegerDynArray{2, 3}));
    t.Key(Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(t.Selection(), (TIntegerDynArray{2, 3, 5}));
    t.TakeChanges();
    t.Key(Qt::Key_Space);
    EXPECT_EQ(t.Selection(), (TIntegerDynArray{5}));
    EXPECT_EQ(t.TakeChanges().size(), 1u);

    t.Key(Qt::Key_End);
    EXPECT_EQ(t.Selection(), (TIntegerDynArray{39}));
    EXPECT_EQ(t.View.ItemFocused(), 39);
    const QRect last = t.View.visualRect(t.View.model()->index(39, 0));
    EXPECT_TRUE(t.View.viewport()->rect().contains(last)); // scrolled fully into view
    t.Key(Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(t.Selection().size(), 40u);
    EXPECT_EQ(t.View.SelectedCount(), 40);

    t.Key(Qt::Key_PageDown); // from the top row to the bottom of the page
    const int pageBottom = t.View.ItemFocused();
    EXPECT_GT(pageBottom, 3);
    EXPECT_EQ(t.Selection(), (TIntegerDynArray{pageBottom}));
    t.Key(Qt::Key_PageDown);
    EXPECT_GT(t.View.ItemFocused(), pageBottom);

    // Ctrl+A is left to the owner's action.
    t.TakeChanges();
    t.Key(Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(t.TakeChanges().empty());
    EXPECT_EQ(t.View.SelectedCount(), 1);
}

TEST(Zel_listviews, PaintingReadsTheBitsAndOnlyTheVisibleRows)
{
    TShownView t;
    const int total = 1000000;
    t.View.SetItemCount(total);
    t.View.BeginUpdate();
    for (int i = 1; i < total; i += 2)
        SetListViewItemSelected(t.View, i, true);
    t.View.EndUpdate();
    t.DataCalls = 0;
    const QImage image = t.View.viewport()->grab().toImage();
    EXPECT_GT(t.DataCalls, 0);
    EXPECT_LT(t.DataCalls, 100); // one fetch per visible row per paint

    // Past the text of the last column, still inside the row.
    const int x = t.View.header()->sectionViewportPosition(1) + t.View.header()->sectionSize(1) - 5;
    const QColor plain = image.pixelColor(x, t.RowCenter(0).y());
    const QColor selected = image.pixelColor(x, t.RowCenter(1).y());
    EXPECT_NE(plain, selected);
    EXPECT_EQ(image.pixelColor(x, t.RowCenter(3).y()), selected);
    EXPECT_EQ(image.pixelColor(x, t.RowCenter(2).y()), plain);
    EXPECT_EQ(t.View.model()->data(t.View.model()->index(7, 0)).toString(), QString("Document 7"));
}

TEST(Zel_listviews, HeaderClicksContextMenusAndRedrawsReachTheOwner)
{
    TShownView t;
    t.View.SetColumns({{"Name", 120}, {"Size", 80, TAlignment::RightJustify}, {"Result", 90}});
    std::vector<int> clicked;
    t.View.OnColumnClick = [&](TCustomListView& sender, int column) {
        EXPECT_EQ(&sender, &t.View);
        clicked.push_back(column);
    };
    QHeaderView& header = *t.View.header();
    QTest::mouseClick(header.viewport(), Qt::LeftButton, Qt::NoModifier,
        QPoint(header.sectionViewportPosition(1) + 40, header.height() / 2));
    EXPECT_EQ(clicked, (std::vector<int>{1}));

    // From the keyboard the menu belongs below the focused row.
    std::vector<QPoint> popups;
    t.View.OnContextPopup = [&](TCustomListView&, const QPoint& globalPos) { popups.push_back(globalPos); };
    SetListViewItemFocused(t.View, 2, true);
    QContextMenuEvent fromKeyboard(QContextMenuEvent::Keyboard, QPoint(0, 0), t.View.viewport()->mapToGlobal(QPoint(0, 0)));
    QCoreApplication::sendEvent(t.View.viewport(), &fromKeyboard);
    ASSERT_EQ(popups.size(), 1u);
    const QRect row2 = t.View.visualRect(t.View.model()->index(2, 0));
    EXPECT_EQ(t.View.viewport()->mapFromGlobal(popups[0]).y(), row2.bottom());

    // A row's texts are fetched again once it is redrawn.
    std::string result = "None";
    t.View.OnData = [&](TVirtualListView&, int, TListItem& item) { item.SubItems = {"1", result}; };
    QAbstractItemModel& model = *t.View.model();
    EXPECT_EQ(model.data(model.index(4, 2)).toString(), QString("None"));
    result = "Success";
    t.View.UpdateItems(4, 4);
    EXPECT_EQ(model.data(model.index(4, 2)).toString(), QString("Success"));
}

namespace {

struct TAccessibleNote {
    QAccessible::Event Type;
    int Row; // of the cell it is about; -2 for the table
    int Column;
    QString Name;
    bool operator==(const TAccessibleNote&) const = default;
};

// Hears what a screen reader's bridge would: the selection, focus and name
// events of the table and its cells.
class TAccessibilityRecorder {
public:
    explicit TAccessibilityRecorder(TCustomListView& view) : FView(view)
    {
        SetListViewAccessibilityListener([this](QAccessibleEvent& event) {
            QAccessibleInterface* iface = event.accessibleInterface();
            ASSERT_TRUE(iface);
            if (QAccessibleTableCellInterface* cell = iface->tableCellInterface())
                FNotes.push_back({event.type(), cell->rowIndex(), cell->columnIndex(), iface->text(QAccessible::Name)});
            else
                FNotes.push_back({event.type(), iface->tableInterface() ? -2 : -3, -2, {}});
        });
    }
    ~TAccessibilityRecorder() { SetListViewAccessibilityListener(nullptr); }

    // The view reports once the event loop runs; that report, taken.
    std::vector<TAccessibleNote> Take()
    {
        QCoreApplication::sendPostedEvents(&FView, QEvent::MetaCall);
        return std::exchange(FNotes, {});
    }

private:
    TCustomListView& FView;
    std::vector<TAccessibleNote> FNotes;
};

TAccessibleNote Note(QAccessible::Event type, int row, int column, const char* name)
{
    return {type, row, column, QString::fromUtf8(name)};
}

} // namespace

TEST(Zel_listviews, ScreenReadersSeeATableOverTheRowStates)
{
    TShownView t;
    t.View.SetItemCount(1000000);
    SetListViewItemSelected(t.View, 7, true);
    SetListViewItemSelected(t.View, 999999, true);
    SetListViewItemFocused(t.View, 7, true);

    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(&t.View);
    ASSERT_TRUE(table && table->tableInterface());
    QAccessibleTableInterface& grid = *table->tableInterface();
    EXPECT_EQ(table->role(), QAccessible::Table);
    EXPECT_TRUE(table->state().multiSelectable);
    EXPECT_EQ(grid.rowCount(), 1000000);
    EXPECT_EQ(grid.columnCount(), 2);
    EXPECT_EQ(table->childCount(), 1000001 * 2); // the headers, then the cells
    EXPECT_EQ(grid.selectedRowCount(), 2);
    EXPECT_EQ(grid.selectedCellCount(), 4);
    EXPECT_EQ(grid.selectedRows(), (QList<int>{7, 999999}));
    EXPECT_TRUE(grid.isRowSelected(999999));
    EXPECT_FALSE(grid.isRowSelected(8));
    EXPECT_FALSE(grid.isRowSelected(1000000));

    // One object per cell, however it is reached.
    QAccessibleInterface* cell = grid.cellAt(7, 1);
    ASSERT_TRUE(cell && cell->tableCellInterface());
    EXPECT_EQ(cell->role(), QAccessible::Cell);
    EXPECT_EQ(cell->text(QAccessible::Name), "None");
    EXPECT_EQ(grid.cellAt(999999, 0)->text(QAccessible::Name), "Document 999999");
    EXPECT_EQ(table->child(8 * 2 + 1), cell);
    EXPECT_EQ(table->indexOfChild(cell), 17);
    EXPECT_EQ(cell->parent(), table);
    EXPECT_EQ(cell->tableCellInterface()->table(), table);
    QAccessibleInterface* header = table->child(1);
    EXPECT_EQ(header->role(), QAccessible::ColumnHeader);
    EXPECT_EQ(header->text(QAccessible::Name), "Result");
    EXPECT_EQ(cell->tableCellInterface()->columnHeaderCells(), QList<QAccessibleInterface*>{header});
    EXPECT_EQ(table->childAt(cell->rect().center().x(), cell->rect().center().y()), cell);
    EXPECT_EQ(grid.cellAt(1000000, 0), nullptr);
    EXPECT_EQ(table->child(1000001 * 2), nullptr);

    // States come from the bits; the focus only while the view has it.
    EXPECT_TRUE(cell->state().selected);
    EXPECT_TRUE(cell->state().focused);
    EXPECT_TRUE(grid.cellAt(999999, 1)->state().offscreen);
    EXPECT_FALSE(grid.cellAt(8, 0)->state().selected);
    EXPECT_EQ(table->focusChild(), grid.cellAt(7, 0));
    t.View.clearFocus();
    EXPECT_FALSE(cell->state().focused);

    // A screen reader's selection is a gesture of the user's.
    t.TakeChanges();
    EXPECT_TRUE(grid.selectRow(8));
    EXPECT_TRUE(grid.unselectRow(999999));
    EXPECT_FALSE(grid.selectRow(1000000));
    EXPECT_EQ(GetListViewSelection(t.View), (TIntegerDynArray{7, 8}));
    EXPECT_EQ(t.TakeChanges(), (std::vector<int>{8, 999999}));

    // Cells of rows that are gone say so.
    t.View.SetItemCount(5);
    EXPECT_FALSE(cell->isValid());
    EXPECT_EQ(grid.selectedRows(), QList<int>{});
}

TEST(Zel_listviews, ScreenReadersKeepTheCellsTheyAreGiven)
{
    // A client that has walked thousands of cells and then asks for the
    // selected ones gets cells that live while it reads them.
    TShownView t;
    t.View.SetItemCount(4000);
    for (int row = 0; row < 4000; row += 2)
        SetListViewItemSelected(t.View, row, true);
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(&t.View);
    ASSERT_TRUE(table && table->tableInterface());
    for (int index = 2002; index < 2002 + 4095; ++index) // rows 1000 and on
        ASSERT_TRUE(table->child(index));
    const QList<QAccessibleInterface*> cells = table->tableInterface()->selectedCells();
    ASSERT_EQ(cells.size(), 1024);
    for (int i = 0; i < cells.size(); i += 2)
        EXPECT_EQ(cells[i]->text(QAccessible::Name), QString("Document %1").arg(i));
}

TEST(Zel_listviews, ScreenReadersHearOfEachGestureOnce)
{
    using A = QAccessible;
    TShownView t;
    TAccessibilityRecorder recorder(t.View);
    t.Click(3);
    EXPECT_EQ(recorder.Take(), (std::vector<TAccessibleNote>{Note(A::SelectionAdd, 3, 0, "Document 3"),
                                                             Note(A::Focus, 3, 0, "Document 3")}));
    t.Click(5, Qt::ControlModifier);
    EXPECT_EQ(recorder.Take(), (std::vector<TAccessibleNote>{Note(A::SelectionAdd, 5, 0, "Document 5"),
                                                             Note(A::Focus, 5, 0, "Document 5")}));

    // Many rows at once: one event for the table, and the cells the screen
    // reader knows; never one per row.
    t.View.SetItemCount(1000000);
    recorder.Take();
    ReverseListViewSelection(t.View);
    std::vector<TAccessibleNote> notes = recorder.Take();
    std::sort(notes.begin(), notes.end(), [](const auto& a, const auto& b) { return a.Row < b.Row; });
    EXPECT_EQ(notes, (std::vector<TAccessibleNote>{Note(A::SelectionWithin, -2, -2, ""),
                                                   Note(A::SelectionRemove, 3, 0, "Document 3"),
                                                   Note(A::SelectionRemove, 5, 0, "Document 5")}));

    // A changed text reaches the cells that show it and that it knows.
    QAccessibleTableInterface& grid = *QAccessible::queryAccessibleInterface(&t.View)->tableInterface();
    grid.cellAt(5, 1);
    t.ResultText = "Success";
    {
        TListViewUpdate update(t.View);
        t.View.UpdateItems(5, 5);
        SetListViewItemSelected(t.View, 9, false);
        EXPECT_TRUE(recorder.Take().empty()); // the bracket has not ended
    }
    EXPECT_EQ(recorder.Take(), (std::vector<TAccessibleNote>{Note(A::NameChanged, 5, 1, "Success"),
                                                             Note(A::SelectionRemove, 9, 0, "Document 9")}));

    // The focus is told again when the view gets it back, and a program's move
    // of the focus too; rows that go are forgotten without a word.
    t.View.clearFocus();
    t.View.setFocus();
    SetListViewItemFocused(t.View, 2, true);
    EXPECT_EQ(recorder.Take(), (std::vector<TAccessibleNote>{Note(A::Focus, 2, 0, "Document 2")}));
    t.View.SetItemCount(4);
    EXPECT_TRUE(recorder.Take().empty());
}

TEST(Zel_listviews, CutTextsEndWhereTheirColumnSaysAndShowWholeAsTooltips)
{
    TShownView t;
    const std::string folder = "/home/someone/Documents/projects/" + std::string(60, 'x') + "/the-folder";
    t.View.SetColumns({{"Name", 150}, {"Directory", 220, TAlignment::LeftJustify, Qt::ElideMiddle},
                       {"Size", 60, TAlignment::RightJustify}});
    t.View.OnData = [&](TVirtualListView&, int row, TListItem& item) {
        item.Caption = row == 0 ? "short" : "a name far too long for its column of 150 pixels.txt";
        item.SubItems = {folder, "123"};
    };
    t.View.UpdateItems(0, 1);

    // The directory keeps both its root and its own name; the name its beginning.
    const QString directory = t.View.ShownText(1, 1);
    EXPECT_TRUE(directory.startsWith("/home/")) << directory.toStdString();
    EXPECT_TRUE(directory.endsWith("/the-folder")) << directory.toStdString();
    EXPECT_TRUE(directory.contains(QChar(0x2026))) << directory.toStdString();
    EXPECT_TRUE(t.View.ShownText(1, 0).startsWith("a name far")) << t.View.ShownText(1, 0).toStdString();
    EXPECT_EQ(t.View.ShownText(0, 0), "short");
    EXPECT_EQ(t.View.ShownText(0, 2), "123");
    EXPECT_THROW(t.View.ShownText(0, 3), EListError);

    // Hovering a cut cell shows its whole text; a whole one shows none.
    const auto hover = [&](int row, int column) {
        const QRect cell = t.View.visualRect(t.View.model()->index(row, column));
        QHelpEvent event(QEvent::ToolTip, cell.center(), t.View.viewport()->mapToGlobal(cell.center()));
        QCoreApplication::sendEvent(t.View.viewport(), &event);
    };
    hover(0, 0);
    hover(0, 2);
    EXPECT_FALSE(QToolTip::isVisible());
    hover(1, 1);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text().toStdString(), folder);
    hover(1, 0);
    EXPECT_EQ(QToolTip::text(), "a name far too long for its column of 150 pixels.txt");
    hover(0, 0);
    EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }));

    // A cell's hint is its tooltip, under the whole text when the cell is cut;
    // screen readers get it as the cell's description.
    t.View.OnData = [&, data = t.View.OnData](TVirtualListView& sender, int row, TListItem& item) {
        data(sender, row, item);
        item.Hints = {"why " + std::to_string(row), "", "why not"};
    };
    t.View.UpdateItems(0, 1);
    hover(0, 2);
    EXPECT_EQ(QToolTip::text(), "why not");
    hover(1, 0);
    EXPECT_EQ(QToolTip::text(), "a name far too long for its column of 150 pixels.txt\nwhy 1");
    hover(1, 1);
    EXPECT_EQ(QToolTip::text().toStdString(), folder) << "an empty hint adds nothing";
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(&t.View);
    ASSERT_TRUE(table && table->tableInterface());
    EXPECT_EQ(table->tableInterface()->cellAt(1, 2)->text(QAccessible::Description), "why not");
    EXPECT_EQ(table->tableInterface()->cellAt(1, 1)->text(QAccessible::Description), "");
    QToolTip::hideText();
}
