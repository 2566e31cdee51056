#include "Zel_listviews.h"

#include "Zel_listviewaccessible.h"
#include "Zel_listviewitems.h"
#include "Zel_translations.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>

#include <algorithm>
#include <utility>

namespace {

const char* const IndexErrorMessage = TrNoop("The index is invalid to the list view.");

[[noreturn]] void RaiseIndexError()
{
    throw EInvalidOperation(Tr(IndexErrorMessage));
}

void CheckIndex(int index, int count)
{
    if (index < 0 || index >= count)
        RaiseIndexError();
}

// Index lists must be strictly ascending and inside [0, limit), or the
// algorithms would walk off the state vector.
void CheckAscendingIndices(const TIntegerDynArray& indices, int limit)
{
    int previous = -1;
    for (int index : indices) {
        if (index <= previous || index >= limit)
            RaiseIndexError();
        previous = index;
    }
}

// Handlers report their own errors; nothing may cross Qt's event loop.
template <typename F>
void Guarded(F&& f) noexcept
{
    try {
        f();
    } catch (...) {
    }
}

} // namespace

// TCustomListView ------------------------------------------------------------

TCustomListView::TCustomListView(QWidget* parent) : QTreeView(parent)
{
    // Qt's own interface for tree views reads its selection model, which is off.
    InstallListViewAccessibleFactory();
    FModel = new TListViewItemModel(*this);
    setModel(FModel);
    FDelegate = new TListViewDelegate(*this);
    setItemDelegate(FDelegate);
    setSelectionMode(QAbstractItemView::NoSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformRowHeights(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setAllColumnsShowFocus(false);
    setSortingEnabled(false);
    // Qt's current index is not the focused row; letting it scroll the view
    // would jump to row 0 whenever the view gains the focus.
    setAutoScroll(false);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setIconSize(QSize(ListViewImageSize, ListViewImageSize));
    setFocusPolicy(Qt::StrongFocus);
    auto* headerStyle = new TListViewHeaderStyle;
    headerStyle->setParent(header());
    header()->setStyle(headerStyle);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setSectionsClickable(true);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int column) {
        Guarded([&] { DoColumnClick(column); });
    });
}

TCustomListView::~TCustomListView() = default;

void TCustomListView::SetItemState(int row, int state)
{
    CheckIndex(row, ItemCount());
    PutState(row, state);
    Changed(false);
}

void TCustomListView::PutState(int row, int state)
{
    std::uint8_t& slot = FStates[static_cast<std::size_t>(row)];
    const int old = slot;
    state &= ListViewStateMask;
    if (old == state)
        return;
    if ((old ^ state) & lvisSelected) {
        FSelectedCount += (state & lvisSelected) ? 1 : -1;
        NoteSelectionChange(row);
    }
    if (state & lvisFocused) {
        if (FFocusedRow != row) {
            if (FFocusedRow >= 0) {
                FStates[static_cast<std::size_t>(FFocusedRow)] &= ~lvisFocused;
                NoteGestureChange(FFocusedRow);
            }
            FFocusedRow = row;
        }
    } else if (old & lvisFocused) {
        FFocusedRow = -1;
    }
    slot = static_cast<std::uint8_t>(state);
    NoteGestureChange(row);
}

void TCustomListView::NoteGestureChange(int row) noexcept
{
    if (!FInGesture)
        return;
    if (FGestureChanges == 0)
        FGestureRow = row;
    else if (FGestureRow != row)
        FGestureRow = -1;
    ++FGestureChanges;
}

void TCustomListView::ResizeStates(int count)
{
    const int old = ItemCount();
    for (int i = count; i < old; ++i)
        FSelectedCount -= (FStates[static_cast<std::size_t>(i)] >> 1) & 1;
    if (FFocusedRow >= count)
        FFocusedRow = -1;
    FStates.resize(static_cast<std::size_t>(count));
}

void TCustomListView::InsertStates(const TIntegerDynArray& indices)
{
    // From the end: every old row moves up by the number of new rows at or
    // before its new position; the rows left behind are the new, empty ones.
    const int old = ItemCount();
    const int k = static_cast<int>(indices.size());
    FStates.resize(static_cast<std::size_t>(old + k), 0);
    int t = old + k - 1;
    int s = old - 1;
    int p = k - 1;
    while (s < t) {
        if (p >= 0 && t == indices[static_cast<std::size_t>(p)]) {
            --p;
        } else {
            std::swap(FStates[static_cast<std::size_t>(s)], FStates[static_cast<std::size_t>(t)]);
            if (s == FFocusedRow)
                FFocusedRow = t;
            --s;
        }
        --t;
    }
    FAnchorRow = -1;
}

void TCustomListView::EraseStates(const TIntegerDynArray& indices)
{
    const int count = ItemCount();
    std::size_t j = 0;
    int focused = -1;
    for (int i = indices.empty() ? count : indices.front(); i < count; ++i) {
        const std::uint8_t state = FStates[static_cast<std::size_t>(i)];
        if (j < indices.size() && i == indices[j]) {
            ++j;
            FSelectedCount -= (state >> 1) & 1;
        } else {
            if (state & lvisFocused)
                focused = i - static_cast<int>(j);
            FStates[static_cast<std::size_t>(i) - j] = state;
        }
    }
    if (!indices.empty() && FFocusedRow >= indices.front())
        FFocusedRow = focused;
    FStates.resize(FStates.size() - indices.size());
    FAnchorRow = -1;
}

void TCustomListView::Changed(bool rowCountChanged)
{
    FRowCountDirty = FRowCountDirty || rowCountChanged;
    if (FUpdateCount > 0)
        FDirty = true;
    else
        Flush();
}

void TCustomListView::Flush()
{
    FDirty = false;
    FRowCountDirty = false;
    FCachedRow = -1;
    FModel->SyncRowCount(ItemCount());
    if (FAnchorRow >= ItemCount())
        FAnchorRow = -1;
    const int scrollRow = std::exchange(FPendingScrollRow, -1);
    if (scrollRow >= 0 && scrollRow < ItemCount())
        ScrollRowIntoView(scrollRow, FPendingScrollPartialOk);
    RequestRepaint();
    RequestAccessibilityUpdate();
}

void TCustomListView::RequestRepaint() noexcept
{
    // One pending update is enough; repeated update() calls are not free.
    if (FRepaintPending || !viewport()->isVisible())
        return;
    FRepaintPending = true;
    viewport()->update();
}

void TCustomListView::BeginUpdate() noexcept
{
    ++FUpdateCount;
}

void TCustomListView::EndUpdate() noexcept
{
    if (FUpdateCount == 0)
        return;
    if (--FUpdateCount == 0 && FDirty)
        Flush();
}

void TCustomListView::MakeVisible(int row, bool partialOk)
{
    CheckIndex(row, ItemCount());
    if (FUpdateCount > 0) {
        FPendingScrollRow = row;
        FPendingScrollPartialOk = partialOk;
        FDirty = true;
        return;
    }
    FModel->SyncRowCount(ItemCount());
    ScrollRowIntoView(row, partialOk);
}

void TCustomListView::ScrollRowIntoView(int row, bool partialOk)
{
    const QModelIndex index = FModel->index(row, 0);
    if (!index.isValid())
        return;
    const QRect rect = visualRect(index);
    const int height = viewport()->height();
    if (rect.isValid()) {
        const bool whole = rect.top() >= 0 && rect.bottom() < height;
        const bool partly = rect.bottom() >= 0 && rect.top() < height;
        if (whole || (partialOk && partly))
            return;
    }
    // Only vertically: the columns stay where the user scrolled them.
    const int x = horizontalScrollBar()->value();
    scrollTo(index, QAbstractItemView::EnsureVisible);
    horizontalScrollBar()->setValue(x);
}

void TCustomListView::UpdateItems(int first, int last)
{
    if (FCachedRow >= first && FCachedRow <= last)
        FCachedRow = -1;
    Changed(false);
}

void TCustomListView::ReverseSelection()
{
    if (ItemCount() > 0)
        NoteSelectionChange(ItemCount() == 1 ? 0 : -1);
    for (std::uint8_t& state : FStates)
        state ^= lvisSelected;
    FSelectedCount = ItemCount() - FSelectedCount;
    Changed(false);
}

void TCustomListView::SetSelection(const TIntegerDynArray& rows)
{
    const std::size_t k = rows.size();
    std::size_t p = 0;
    int selected = 0;
    const int count = ItemCount();
    for (int i = 0; i < count; ++i) {
        while (p < k && rows[p] < i)
            ++p;
        std::uint8_t& state = FStates[static_cast<std::size_t>(i)];
        const std::uint8_t old = state;
        if (p < k && rows[p] == i) {
            state |= lvisSelected;
            ++selected;
        } else {
            state &= ~lvisSelected;
        }
        if (state != old)
            NoteSelectionChange(i);
    }
    FSelectedCount = selected;
    Changed(false);
}

TIntegerDynArray TCustomListView::GetSelection() const
{
    TIntegerDynArray result;
    result.reserve(static_cast<std::size_t>(FSelectedCount));
    const int count = ItemCount();
    for (int i = 0; i < count; ++i)
        if (FStates[static_cast<std::size_t>(i)] & lvisSelected)
            result.push_back(i);
    return result;
}

void TCustomListView::SetColumns(const TListColumns& columns)
{
    FColumns = columns;
    FCachedRow = -1;
    FModel->ResetColumns();
    for (int i = 0; i < ColumnCount(); ++i)
        header()->resizeSection(i, std::max(0, FColumns[static_cast<std::size_t>(i)].Width));
}

const TListColumn& TCustomListView::Column(int index) const
{
    CheckListIndex(index, ColumnCount());
    return FColumns[static_cast<std::size_t>(index)];
}

int TCustomListView::GetColumnWidth(int index) const
{
    CheckListIndex(index, ColumnCount());
    return header()->sectionSize(index);
}

void TCustomListView::SetColumnWidth(int index, int width)
{
    CheckListIndex(index, ColumnCount());
    if (width == -1)
        setColumnWidth(index, std::max(0, sizeHintForColumn(index)));
    else if (width == -2)
        resizeColumnToContents(index);
    else if (width >= 0)
        setColumnWidth(index, width);
}

void TCustomListView::SetSmallImages(const TImageList& images)
{
    FSmallImages = images;
    FDecorations.clear();
    Changed(false);
}

void TCustomListView::SetStateImages(const TImageList& images)
{
    FStateImages = images;
    FDecorations.clear();
    setIconSize(QSize(FStateImages.empty() ? ListViewImageSize : 2 * ListViewImageSize, ListViewImageSize));
    Changed(false);
}

void TCustomListView::SetMultiSelect(bool value)
{
    FMultiSelect = value;
}

void TCustomListView::DoChange(int row, TItemChange change)
{
    if (OnChange)
        OnChange(*this, row, change);
}

void TCustomListView::DoColumnClick(int column)
{
    if (OnColumnClick)
        OnColumnClick(*this, column);
}

void TCustomListView::DoContextPopup(const QPoint& globalPos)
{
    if (OnContextPopup)
        OnContextPopup(*this, globalPos);
}

void TCustomListView::BeginGesture()
{
    BeginUpdate();
    FInGesture = true;
    FGestureChanges = 0;
    FGestureRow = -1;
}

void TCustomListView::EndGesture()
{
    FInGesture = false;
    if (FGestureChanges > 0)
        FDirty = true;
    EndUpdate();
    if (FGestureChanges > 0) {
        const int row = FGestureRow;
        FGestureChanges = 0;
        Guarded([&] { DoChange(row, TItemChange::State); });
    }
}

void TCustomListView::SelectOnly(int row)
{
    if (row >= 0)
        PutState(row, FStates[static_cast<std::size_t>(row)] | lvisSelected);
    const int keep = row >= 0 ? 1 : 0;
    if (FSelectedCount == keep)
        return;
    // Usually the only other selected row is the one that had the focus.
    if (FFocusedRow >= 0 && FFocusedRow != row && (FStates[static_cast<std::size_t>(FFocusedRow)] & lvisSelected))
        PutState(FFocusedRow, FStates[static_cast<std::size_t>(FFocusedRow)] & ~lvisSelected);
    const int count = ItemCount();
    for (int i = 0; i < count && FSelectedCount > keep; ++i)
        if (i != row && (FStates[static_cast<std::size_t>(i)] & lvisSelected))
            PutState(i, FStates[static_cast<std::size_t>(i)] & ~lvisSelected);
}

void TCustomListView::SelectRange(int from, int to, bool clearOthers)
{
    const int low = std::min(from, to);
    const int high = std::max(from, to);
    for (int i = low; i <= high; ++i)
        PutState(i, FStates[static_cast<std::size_t>(i)] | lvisSelected);
    if (!clearOthers)
        return;
    const int keep = high - low + 1;
    const int count = ItemCount();
    for (int i = 0; i < count && FSelectedCount > keep; ++i) {
        if (i == low) {
            i = high;
            continue;
        }
        if (FStates[static_cast<std::size_t>(i)] & lvisSelected)
            PutState(i, FStates[static_cast<std::size_t>(i)] & ~lvisSelected);
    }
}

void TCustomListView::FocusRow(int row)
{
    PutState(row, FStates[static_cast<std::size_t>(row)] | lvisFocused);
}

int TCustomListView::TopRow() const
{
    return std::clamp(verticalScrollBar()->value(), 0, std::max(0, ItemCount() - 1));
}

int TCustomListView::PageRows() const
{
    if (ItemCount() == 0)
        return 1;
    const int height = rowHeight(FModel->index(TopRow(), 0));
    return height > 0 ? std::max(1, viewport()->height() / height) : 1;
}

void TCustomListView::mousePressEvent(QMouseEvent* event)
{
    const Qt::MouseButton button = event->button();
    if (button != Qt::LeftButton && button != Qt::RightButton) {
        event->ignore();
        return;
    }
    event->accept();
    FModel->SyncRowCount(ItemCount());
    const QModelIndex index = indexAt(event->position().toPoint());
    const int row = index.isValid() && index.row() < ItemCount() ? index.row() : -1;
    const bool ctrl = FMultiSelect && (event->modifiers() & Qt::ControlModifier);
    const bool shift = FMultiSelect && (event->modifiers() & Qt::ShiftModifier);

    BeginGesture();
    if (row < 0) {
        // A click beside the rows clears the selection; the focus stays.
        if (!ctrl && !shift)
            SelectOnly(-1);
    } else if (button == Qt::RightButton) {
        // The menu acts on the selection, so a click inside it keeps it.
        if (!(FStates[static_cast<std::size_t>(row)] & lvisSelected)) {
            SelectOnly(row);
            FAnchorRow = row;
        }
        FocusRow(row);
    } else if (shift) {
        const int anchor = FAnchorRow >= 0 ? FAnchorRow : (FFocusedRow >= 0 ? FFocusedRow : row);
        SelectRange(anchor, row, !ctrl);
        FocusRow(row);
    } else if (ctrl) {
        PutState(row, FStates[static_cast<std::size_t>(row)] ^ lvisSelected);
        FocusRow(row);
        FAnchorRow = row;
    } else {
        SelectOnly(row);
        FocusRow(row);
        FAnchorRow = row;
    }
    if (row >= 0)
        ScrollRowIntoView(row, false);
    EndGesture();
}

void TCustomListView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click acts as a press of its own.
    mousePressEvent(event);
}

void TCustomListView::mouseMoveEvent(QMouseEvent* event)
{
    // Dragging selects nothing; hovering is tracked through hover events.
    event->accept();
}

void TCustomListView::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}

bool TCustomListView::HandleNavigationKey(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (modifiers & (Qt::AltModifier | Qt::MetaModifier))
        return false;
    const bool ctrl = FMultiSelect && (modifiers & Qt::ControlModifier);
    const bool shift = FMultiSelect && (modifiers & Qt::ShiftModifier);
    const int count = ItemCount();
    const int focused = FFocusedRow;
    FModel->SyncRowCount(count);

    if (event->key() == Qt::Key_Space) {
        if (focused < 0)
            return count > 0;
        BeginGesture();
        if (ctrl) {
            PutState(focused, FStates[static_cast<std::size_t>(focused)] ^ lvisSelected);
            FAnchorRow = focused;
        } else if (shift) {
            SelectRange(FAnchorRow >= 0 ? FAnchorRow : focused, focused, true);
        } else {
            SelectOnly(focused);
            FAnchorRow = focused;
        }
        ScrollRowIntoView(focused, false);
        EndGesture();
        return true;
    }

    int target = 0;
    switch (event->key()) {
    case Qt::Key_Up:
        target = focused < 0 ? 0 : focused - 1;
        break;
    case Qt::Key_Down:
        target = focused < 0 ? 0 : focused + 1;
        break;
    case Qt::Key_Home:
        target = 0;
        break;
    case Qt::Key_End:
        target = count - 1;
        break;
    case Qt::Key_PageUp: {
        // First to the top of the page, then a page further.
        const int top = TopRow();
        const int step = std::max(1, PageRows() - 1);
        target = (focused < 0 || focused > top) ? top : focused - step;
        break;
    }
    case Qt::Key_PageDown: {
        const int pageRows = PageRows();
        const int bottom = std::min(count - 1, TopRow() + pageRows - 1);
        const int step = std::max(1, pageRows - 1);
        target = (focused < 0 || focused < bottom) ? bottom : focused + step;
        break;
    }
    default:
        return false;
    }
    if (count == 0)
        return true;
    target = std::clamp(target, 0, count - 1);

    BeginGesture();
    if (shift) {
        SelectRange(FAnchorRow >= 0 ? FAnchorRow : (focused >= 0 ? focused : target), target, true);
    } else if (!ctrl) {
        SelectOnly(target);
        FAnchorRow = target;
    }
    FocusRow(target);
    ScrollRowIntoView(target, false);
    EndGesture();
    return true;
}

void TCustomListView::keyPressEvent(QKeyEvent* event)
{
    if (HandleNavigationKey(event)) {
        event->accept();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Left:
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        event->accept();
        return;
    case Qt::Key_Right:
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        event->accept();
        return;
    default:
        break;
    }
    // Everything else (Ctrl+A, Enter, Delete, ...) belongs to the owner's
    // actions and the window, not to Qt's item view defaults.
    QWidget::keyPressEvent(event);
}

void TCustomListView::focusInEvent(QFocusEvent* event)
{
    // Qt's item view would move its current index here; the focus bit is ours.
    QWidget::focusInEvent(event);
    viewport()->update();
    RequestAccessibilityUpdate();
}

void TCustomListView::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    viewport()->update();
    RequestAccessibilityUpdate();
}

void TCustomListView::contextMenuEvent(QContextMenuEvent* event)
{
    if (!OnContextPopup) {
        event->ignore();
        return;
    }
    event->accept();
    QPoint globalPos = event->globalPos();
    if (event->reason() != QContextMenuEvent::Mouse) {
        // From the keyboard: below the focused row when it is in view.
        QPoint local(0, 0);
        if (FFocusedRow >= 0) {
            FModel->SyncRowCount(ItemCount());
            const QRect rect = visualRect(FModel->index(FFocusedRow, 0));
            if (rect.isValid() && rect.intersects(viewport()->rect()))
                local = QPoint(std::max(0, rect.left()), rect.bottom());
        }
        globalPos = viewport()->mapToGlobal(local);
    }
    Guarded([&] { DoContextPopup(globalPos); });
}

void TCustomListView::keyboardSearch(const QString& search)
{
    // Typing finds nothing: the rows' captions belong to the owner.
    (void)search;
}

// TVirtualListView -----------------------------------------------------------

TVirtualListView::TVirtualListView(QWidget* parent) : TCustomListView(parent) {}

void TVirtualListView::SetItemCount(int count)
{
    if (count < 0)
        RaiseIndexError();
    if (count == ItemCount())
        return;
    ResizeStates(count);
    Changed(true);
}

void TVirtualListView::InsertRows(const TIntegerDynArray& indices)
{
    if (indices.empty())
        return;
    CheckAscendingIndices(indices, ItemCount() + static_cast<int>(indices.size()));
    InsertStates(indices);
    Changed(true);
}

void TVirtualListView::DeleteRows(const TIntegerDynArray& indices)
{
    if (indices.empty())
        return;
    const int count = ItemCount();
    const int k = static_cast<int>(indices.size());
    CheckAscendingIndices(indices, count);

    // Survivors move down over the deleted rows; a deleted focused row hands
    // the focus to the row that takes its place, or to the new last row.
    int j = 0;
    int focused = -1;
    int selected = FSelectedCount;
    for (int i = indices.front(); i < count; ++i) {
        const std::uint8_t state = FStates[static_cast<std::size_t>(i)];
        if (state & lvisFocused)
            focused = std::clamp(i - j, -1, count - k - 1);
        if (j < k && i == indices[static_cast<std::size_t>(j)]) {
            ++j;
            selected -= (state >> 1) & 1;
        } else {
            FStates[static_cast<std::size_t>(i - j)] = state;
        }
    }
    FStates.resize(static_cast<std::size_t>(count - k));
    FSelectedCount = selected;
    if (FFocusedRow >= indices.front())
        FFocusedRow = -1;
    if (focused >= 0) {
        FStates[static_cast<std::size_t>(focused)] |= lvisFocused;
        FFocusedRow = focused;
    }
    Changed(true);
}

void TVirtualListView::SwapRows(int a, int b)
{
    CheckIndex(a, ItemCount());
    CheckIndex(b, ItemCount());
    if (a == b)
        return;
    std::swap(FStates[static_cast<std::size_t>(a)], FStates[static_cast<std::size_t>(b)]);
    if (FFocusedRow == a)
        FFocusedRow = b;
    else if (FFocusedRow == b)
        FFocusedRow = a;
    Changed(false);
}

void TVirtualListView::ReorderRows(const TReorderRecords& records)
{
    if (records.empty())
        return;
    const int count = ItemCount();
    for (const TReorderRecord& record : records) {
        CheckIndex(record.OldIndex, count);
        CheckIndex(record.NewIndex, count);
    }
    std::vector<std::uint8_t> moved;
    moved.reserve(records.size());
    for (const TReorderRecord& record : records)
        moved.push_back(FStates[static_cast<std::size_t>(record.OldIndex)]);
    for (std::size_t r = 0; r < records.size(); ++r)
        PutState(records[r].NewIndex, moved[r]);
    Changed(false);
}

void TVirtualListView::DoData(int row, TListItem& item) const
{
    if (OnData)
        OnData(const_cast<TVirtualListView&>(*this), row, item);
}

void TVirtualListView::GetRowData(int row, TListItem& item) const
{
    DoData(row, item);
}

// TItemListView --------------------------------------------------------------

TItemListView::TItemListView(QWidget* parent) : TCustomListView(parent) {}

const TListItem& TItemListView::Item(int index) const
{
    CheckIndex(index, ItemCount());
    return FItems[static_cast<std::size_t>(index)];
}

void TItemListView::SetItem(int index, const TListItem& item)
{
    CheckIndex(index, ItemCount());
    FItems[static_cast<std::size_t>(index)] = item;
    UpdateItems(index, index);
}

void TItemListView::AddItem(const TListItem& item)
{
    InsertItem(ItemCount(), item);
}

void TItemListView::InsertItem(int index, const TListItem& item)
{
    if (index < 0 || index > ItemCount())
        RaiseIndexError();
    FItems.insert(FItems.begin() + index, item);
    InsertStates({index});
    Changed(true);
}

void TItemListView::DeleteItem(int index)
{
    CheckIndex(index, ItemCount());
    FItems.erase(FItems.begin() + index);
    EraseStates({index});
    Changed(true);
}

void TItemListView::ClearItems()
{
    FItems.clear();
    ResizeStates(0);
    Changed(true);
}

void TItemListView::InsertRows(const TIntegerDynArray& indices)
{
    if (indices.empty())
        return;
    const std::size_t total = FItems.size() + indices.size();
    CheckAscendingIndices(indices, static_cast<int>(total));
    std::vector<TListItem> items;
    items.reserve(total);
    std::size_t p = 0;
    auto source = FItems.begin();
    for (std::size_t i = 0; i < total; ++i) {
        if (p < indices.size() && static_cast<std::size_t>(indices[p]) == i) {
            items.emplace_back();
            ++p;
        } else {
            items.push_back(std::move(*source++));
        }
    }
    FItems = std::move(items);
    InsertStates(indices);
    Changed(true);
}

void TItemListView::DeleteRows(const TIntegerDynArray& indices)
{
    if (indices.empty())
        return;
    CheckAscendingIndices(indices, ItemCount());
    std::size_t j = 0;
    std::size_t write = static_cast<std::size_t>(indices.front());
    for (std::size_t i = write; i < FItems.size(); ++i) {
        if (j < indices.size() && static_cast<std::size_t>(indices[j]) == i)
            ++j;
        else
            FItems[write++] = std::move(FItems[i]);
    }
    FItems.resize(write);
    EraseStates(indices);
    Changed(true);
}

void TItemListView::SwapRows(int a, int b)
{
    CheckIndex(a, ItemCount());
    CheckIndex(b, ItemCount());
    if (a == b)
        return;
    std::swap(FItems[static_cast<std::size_t>(a)], FItems[static_cast<std::size_t>(b)]);
    UpdateItems(std::min(a, b), std::max(a, b));
}

void TItemListView::ReorderRows(const TReorderRecords& records)
{
    if (records.empty())
        return;
    const int count = ItemCount();
    for (const TReorderRecord& record : records) {
        CheckIndex(record.OldIndex, count);
        CheckIndex(record.NewIndex, count);
    }
    std::vector<TListItem> copies;
    copies.reserve(records.size());
    for (const TReorderRecord& record : records)
        copies.push_back(FItems[static_cast<std::size_t>(record.OldIndex)]);
    for (std::size_t r = 0; r < records.size(); ++r)
        FItems[static_cast<std::size_t>(records[r].NewIndex)] = std::move(copies[r]);
    InvalidateRowData();
    Changed(false);
}

void TItemListView::GetRowData(int row, TListItem& item) const
{
    item = FItems[static_cast<std::size_t>(row)];
}

// Row functions --------------------------------------------------------------

void CheckListViewIndex(const TCustomListView& listView, int index)
{
    CheckIndex(index, listView.ItemCount());
}

void EnsureListViewItemVisible(TCustomListView& listView, int index, bool partialOk)
{
    CheckListViewIndex(listView, index);
    listView.MakeVisible(index, partialOk);
}

int GetListViewItemState(const TCustomListView& listView, int index)
{
    CheckListViewIndex(listView, index);
    return listView.ItemState(index) & ListViewStateMask;
}

void SetListViewItemState(TCustomListView& listView, int index, int state)
{
    CheckListViewIndex(listView, index);
    listView.SetItemState(index, state & ListViewStateMask);
}

void SetListViewItemFocused(TCustomListView& listView, int index, bool on)
{
    const int state = GetListViewItemState(listView, index);
    SetListViewItemState(listView, index, on ? state | lvisFocused : state & ~lvisFocused);
}

bool IsListViewItemSelected(const TCustomListView& listView, int index)
{
    return (GetListViewItemState(listView, index) & lvisSelected) != 0;
}

void SetListViewItemSelected(TCustomListView& listView, int index, bool on)
{
    const int state = GetListViewItemState(listView, index);
    SetListViewItemState(listView, index, on ? state | lvisSelected : state & ~lvisSelected);
}

void InsertListViewItems(TCustomListView& listView, const TIntegerDynArray& indices)
{
    if (!indices.empty())
        listView.InsertRows(indices);
}

void DeleteListViewItems(TCustomListView& listView, const TIntegerDynArray& indices)
{
    if (!indices.empty())
        listView.DeleteRows(indices);
}

void SwapListViewItems(TCustomListView& listView, int a, int b)
{
    CheckListViewIndex(listView, a);
    CheckListViewIndex(listView, b);
    listView.SwapRows(a, b);
}

void ReorderListViewItems(TCustomListView& listView, const TReorderRecords& records)
{
    if (!records.empty())
        listView.ReorderRows(records);
}

void ReverseListViewSelection(TCustomListView& listView)
{
    listView.ReverseSelection();
}

TIntegerDynArray GetListViewSelection(const TCustomListView& listView)
{
    return listView.GetSelection();
}

void SetListViewSelection(TCustomListView& listView, const TIntegerDynArray& indices)
{
    if (!indices.empty())
        listView.SetSelection(indices);
}

// Accessibility: what the view notes for Zel_listviewaccessible -------------

void TCustomListView::NoteSelectionChange(int row) noexcept
{
    if (FSelectionChanges == 0 && row >= 0) {
        FSelectionChanges = 1;
        FSelectionChangeRow = row;
    } else if (FSelectionChanges != 1 || FSelectionChangeRow != row) {
        FSelectionChanges = 2;
    }
}

void TCustomListView::RequestAccessibilityUpdate()
{
    if (FAccessibilityPending || !ListViewAccessibilityActive())
        return;
    FAccessibilityPending = true;
    QMetaObject::invokeMethod(this, [this] { Guarded([this] { UpdateAccessibility(); }); }, Qt::QueuedConnection);
}
