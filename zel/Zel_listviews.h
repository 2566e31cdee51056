#pragma once
// Report list views and the row functions that keep their rows and per-row
// state (selection, focus) in step with a model. Two kinds of control share
// one base: TItemListView stores its items; TVirtualListView (owner data)
// stores only a row count and one state byte a row and asks its owner for a
// row's texts and images when the row is drawn.
//
// The state bytes are the only truth about selection and focus: Qt's own
// selection model is switched off, because it stores a selection as ranges and
// collapses on fragmented ones (every other row of a large list). Screen
// readers see the same bytes: the views answer the accessibility interface
// (a table of cells under column headers) from them, and report changes of
// selection, focus and texts once per gesture or update bracket.

#include "Zel_base.h"
#include "Zel_dynamicarrays.h"
#include "Zel_lists.h"

#include <QHash>
#include <QIcon>
#include <QPoint>
#include <QTreeView>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QAccessibleEvent;
class TListViewDelegate;
class TListViewItemModel;
class TListViewAccessible;
class TListViewAccessibleCell;

// Row state bits; every read and write covers exactly these four (mask 15).
enum TListViewItemState : int {
    lvisFocused = 1,
    lvisSelected = 2,
    lvisCut = 4,
    lvisDropHilited = 8,
};
constexpr int ListViewStateMask = 15;

enum class TAlignment { LeftJustify, RightJustify, Center };

struct TListColumn {
    std::string Caption;
    int Width = 50;
    TAlignment Alignment = TAlignment::LeftJustify;
    // Where a text too long for the column is cut; a cut cell shows its
    // whole text as its tooltip, above the cell's hint if it has one.
    Qt::TextElideMode Elide = Qt::ElideRight;
};
using TListColumns = std::vector<TListColumn>;

// One row's contents: what an ordinary list view stores per item and what the
// owner of a virtual one supplies when a row is drawn. -1 means no image.
struct TListItem {
    std::string Caption;
    TStringDynArray SubItems;
    int ImageIndex = -1;
    int StateIndex = -1;
    // A note on a cell, by column (the caption's first), shown as its tooltip
    // and told to screen readers as its description; missing or empty: none.
    TStringDynArray Hints;
    bool operator==(const TListItem&) const = default;
};

// Small or state images (16 x 16), by index.
using TImageList = std::vector<QIcon>;

// What OnChange reports. User gestures change states only.
enum class TItemChange { Text, Image, State };

class TCustomListView : public QTreeView {
    Q_OBJECT

public:
    ~TCustomListView() override;

    // Sender, the row whose state changed (-1 when several did), what changed.
    // Raised once per user gesture (click, key) that changed any state bit;
    // the program's own changes do not raise it.
    std::function<void(TCustomListView& Sender, int Row, TItemChange Change)> OnChange;
    std::function<void(TCustomListView& Sender, int Column)> OnColumnClick;
    // Sender and the global position where the menu belongs (mouse or keyboard).
    std::function<void(TCustomListView& Sender, const QPoint& GlobalPos)> OnContextPopup;

    virtual bool OwnerData() const noexcept = 0;
    int ItemCount() const noexcept { return static_cast<int>(FStates.size()); }

    // Unchecked fast paths for the row functions; callers check the index.
    int ItemState(int row) const noexcept { return FStates[static_cast<std::size_t>(row)]; }
    // Sets the four state bits of a row. Only one row holds the focus: focusing
    // a row takes the focus bit from the row that had it.
    void SetItemState(int row, int state);
    int SelectedCount() const noexcept { return FSelectedCount; }
    // The focused row, or -1.
    int ItemFocused() const noexcept { return FFocusedRow; }

    // Program changes between these two show on screen once, at the outermost end.
    void BeginUpdate() noexcept;
    void EndUpdate() noexcept;
    bool Updating() const noexcept { return FUpdateCount > 0; }

    // Scrolls the row into view vertically; with partialOk a partly visible row
    // is left alone. Inside an update bracket it happens at the bracket's end.
    void MakeVisible(int row, bool partialOk);
    // Fetches the rows' texts and images again and repaints them.
    void UpdateItems(int first, int last);

    // The row functions' work, by kind; indices are checked first (nothing
    // changes on a bad one). One pass and one repaint each.
    virtual void InsertRows(const TIntegerDynArray& indices) = 0;
    virtual void DeleteRows(const TIntegerDynArray& indices) = 0;
    virtual void SwapRows(int a, int b) = 0;
    virtual void ReorderRows(const TReorderRecords& records) = 0;
    void ReverseSelection();
    // Selects exactly the listed rows (ascending); listed rows beyond the end are ignored.
    void SetSelection(const TIntegerDynArray& rows);
    TIntegerDynArray GetSelection() const;

    void SetColumns(const TListColumns& columns);
    int ColumnCount() const noexcept { return static_cast<int>(FColumns.size()); }
    const TListColumn& Column(int index) const;
    // A cell's text as it is drawn, shortened to its column's width.
    QString ShownText(int row, int column) const;
    int GetColumnWidth(int index) const;
    // -1 fits the contents, -2 the contents and the caption; other negative widths are ignored.
    void SetColumnWidth(int index, int width);

    void SetSmallImages(const TImageList& images);
    void SetStateImages(const TImageList& images);

    bool MultiSelect() const noexcept { return FMultiSelect; }
    void SetMultiSelect(bool value);

protected:
    explicit TCustomListView(QWidget* parent);

    virtual void DoChange(int row, TItemChange change);
    virtual void DoColumnClick(int column);
    virtual void DoContextPopup(const QPoint& globalPos);
    // Fills item with row's contents; row < ItemCount().
    virtual void GetRowData(int row, TListItem& item) const = 0;

    // Row-count changes of the kinds; states of new rows are zero.
    void ResizeStates(int count);
    void InsertStates(const TIntegerDynArray& indices); // O(n), ascending positions after insertion
    void EraseStates(const TIntegerDynArray& indices);  // O(n), ascending
    // Writes a state with the selected count and single focus kept in step, without repainting.
    void PutState(int row, int state);
    void Changed(bool rowCountChanged);
    void InvalidateRowData() noexcept { FCachedRow = -1; }

    std::vector<std::uint8_t> FStates;
    int FSelectedCount = 0;
    int FFocusedRow = -1;
    int FAnchorRow = -1; // where Shift extends the selection from

    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

public:
    void keyboardSearch(const QString& search) override;

private:
    friend class TListViewItemModel;
    friend class TListViewAccessible;
    friend class TListViewAccessibleCell;

    struct TCachedRow {
        QStringList Texts;
        QStringList Hints;
        int ImageIndex = -1;
        int StateIndex = -1;
    };
    const TCachedRow& CachedRow(int row) const;
    QIcon Decoration(int row) const;

    void Flush();
    void RequestRepaint() noexcept;
    void ScrollRowIntoView(int row, bool partialOk);

    // User gestures: every change inside one is reported by one OnChange.
    void BeginGesture();
    void NoteGestureChange(int row) noexcept;
    void EndGesture();
    void SelectOnly(int row);
    void SelectRange(int from, int to, bool clearOthers);
    void FocusRow(int row);
    int TopRow() const;
    int PageRows() const;
    bool HandleNavigationKey(QKeyEvent* event);

    TListViewItemModel* FModel = nullptr; // owned by this view as Qt parent
    TListViewDelegate* FDelegate = nullptr; // owned by this view as Qt parent
    TListColumns FColumns;
    TImageList FSmallImages;
    TImageList FStateImages;
    mutable QHash<qint64, QIcon> FDecorations; // composed icons by images and cut state
    mutable int FCachedRow = -1;
    mutable TCachedRow FCache;

    int FUpdateCount = 0;
    bool FDirty = false;
    bool FRowCountDirty = false;
    bool FRepaintPending = false;
    bool FMultiSelect = true;
    int FPendingScrollRow = -1;
    bool FPendingScrollPartialOk = false;

    bool FInGesture = false;
    int FGestureChanges = 0;
    int FGestureRow = -1;

    // Accessibility: changes are told to assistive technologies once the
    // event loop runs again, after Qt has announced the view's own focus.
    // row is the one row whose selected bit changed, -1 for several.
    void NoteSelectionChange(int row) noexcept;
    void RequestAccessibilityUpdate();
    void UpdateAccessibility();
    bool FAccessibilityPending = false;
    int FSelectionChanges = 0; // rows whose selected bit changed since; 2 stands for more
    int FSelectionChangeRow = -1;
};

// The virtual (owner-data) kind: a row count, one state byte a row, and OnData.
class TVirtualListView : public TCustomListView {
    Q_OBJECT

public:
    explicit TVirtualListView(QWidget* parent = nullptr);

    // Sender, the row to fill and the item to fill; asked only while painting,
    // so it must only read what the owner already holds.
    std::function<void(TVirtualListView& Sender, int Row, TListItem& Item)> OnData;

    bool OwnerData() const noexcept override { return true; }
    // New rows at the end start without state; rows cut off lose theirs.
    void SetItemCount(int count);

    // New rows carry no state; a deleted focused row passes the focus to the
    // row that takes its place, or to the new last row; swaps and reorders
    // move the rows' states.
    void InsertRows(const TIntegerDynArray& indices) override;
    void DeleteRows(const TIntegerDynArray& indices) override;
    void SwapRows(int a, int b) override;
    void ReorderRows(const TReorderRecords& records) override;

protected:
    virtual void DoData(int row, TListItem& item) const;
    void GetRowData(int row, TListItem& item) const override;
};

// The ordinary kind: it stores its items.
class TItemListView : public TCustomListView {
    Q_OBJECT

public:
    explicit TItemListView(QWidget* parent = nullptr);

    bool OwnerData() const noexcept override { return false; }

    const TListItem& Item(int index) const;
    // Replaces an item's contents; its state stays.
    void SetItem(int index, const TListItem& item);
    void AddItem(const TListItem& item);
    void InsertItem(int index, const TListItem& item);
    void DeleteItem(int index);
    void ClearItems();

    // Inserted items are empty; states move with inserted and deleted items;
    // swaps and reorders move the contents (caption, sub-items, images) while
    // the states stay with the positions.
    void InsertRows(const TIntegerDynArray& indices) override;
    void DeleteRows(const TIntegerDynArray& indices) override;
    void SwapRows(int a, int b) override;
    void ReorderRows(const TReorderRecords& records) override;

protected:
    void GetRowData(int row, TListItem& item) const override;

private:
    std::vector<TListItem> FItems;
};

// The views report to assistive technologies while Qt's accessibility bridge
// is active, or while a listener is set: then the listener hears every event
// in place of the bridge (tests listen in where no bridge can run). An empty
// listener ends that.
void SetListViewAccessibilityListener(std::function<void(QAccessibleEvent& Event)> listener);

// Begin-update / end-update as a scope: the end runs also when an exception passes.
class TListViewUpdate {
public:
    explicit TListViewUpdate(TCustomListView& listView) noexcept : FListView(listView) { FListView.BeginUpdate(); }
    ~TListViewUpdate() { FListView.EndUpdate(); }
    TListViewUpdate(const TListViewUpdate&) = delete;
    TListViewUpdate& operator=(const TListViewUpdate&) = delete;

private:
    TCustomListView& FListView;
};

// The row functions. Index lists are ascending without duplicates; an index
// outside the rows throws EInvalidOperation "The index is invalid to the list
// view." before anything has changed.
void CheckListViewIndex(const TCustomListView& listView, int index);
void EnsureListViewItemVisible(TCustomListView& listView, int index, bool partialOk);
int GetListViewItemState(const TCustomListView& listView, int index);
void SetListViewItemState(TCustomListView& listView, int index, int state);
void SetListViewItemFocused(TCustomListView& listView, int index, bool on);
bool IsListViewItemSelected(const TCustomListView& listView, int index);
void SetListViewItemSelected(TCustomListView& listView, int index, bool on);
// indices are the positions the new rows have after the insertion.
void InsertListViewItems(TCustomListView& listView, const TIntegerDynArray& indices);
// A deleted focused row passes the focus to the row that takes its place, or
// to the new last row (virtual kind).
void DeleteListViewItems(TCustomListView& listView, const TIntegerDynArray& indices);
void SwapListViewItems(TCustomListView& listView, int a, int b);
// Moves each record's row from OldIndex to NewIndex; the records form a permutation.
void ReorderListViewItems(TCustomListView& listView, const TReorderRecords& records);
void ReverseListViewSelection(TCustomListView& listView);
TIntegerDynArray GetListViewSelection(const TCustomListView& listView);
// Selects exactly the listed rows and clears every other; an empty list changes nothing.
void SetListViewSelection(TCustomListView& listView, const TIntegerDynArray& indices);
