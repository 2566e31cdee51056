#include "Zel_listviews.h"

#include <QAbstractTableModel>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QContextMenuEvent>
#include <QApplication>
#include <QHeaderView>
#include <QProxyStyle>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>
#include <climits>
#include <memory>
#include <unordered_map>
#include <utility>

namespace {

const char* const IndexErrorMessage = "The index is invalid to the list view.";

[[noreturn]] void RaiseIndexError()
{
    throw EInvalidOperation(IndexErrorMessage);
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

constexpr int ImageSize = 16;

// Right-aligned texts keep this gap to the column's right edge, in the
// header and in the cells alike, so that a number never runs into the text
// beside it and stays under its caption.
constexpr int RightGap = 4;

class TListViewHeaderStyle final : public QProxyStyle {
public:
    QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override
    {
        QRect rect = QProxyStyle::subElementRect(element, option, widget);
        if (element == SE_HeaderLabel)
            if (const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option))
                if (header->textAlignment & Qt::AlignRight)
                    rect.adjust(0, 0, -RightGap, 0);
        return rect;
    }
};

} // namespace

// Cells never draw Qt's focus frame: the view draws one around the row that
// holds the focus bit. Each column cuts long texts where it says, and a cut
// cell shows its whole text as its tooltip.
class TListViewDelegate final : public QStyledItemDelegate {
public:
    explicit TListViewDelegate(TCustomListView& view) : QStyledItemDelegate(&view), FView(view) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem cell(option);
        cell.state &= ~QStyle::State_HasFocus;
        cell.textElideMode = ElideMode(index);
        if (index.data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight) {
            // The panel (the selection) still fills the whole cell.
            QStyleOptionViewItem panel(cell);
            initStyleOption(&panel, index);
            const QWidget* widget = option.widget;
            QStyle* style = widget ? widget->style() : QApplication::style();
            style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, widget);
            cell.rect.adjust(0, 0, -RightGap, 0);
        }
        QStyledItemDelegate::paint(painter, cell, index);
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (!event || event->type() != QEvent::ToolTip || !index.isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        const QString text = index.data(Qt::DisplayRole).toString();
        const QString hint = index.data(Qt::ToolTipRole).toString();
        QString tip = ShownText(option, index) != text ? text : QString();
        if (!hint.isEmpty())
            tip = tip.isEmpty() ? hint : tip + QLatin1Char('\n') + hint;
        if (!tip.isEmpty())
            QToolTip::showText(event->globalPos(), tip, view->viewport(), option.rect);
        else
            QToolTip::hideText();
        return true;
    }

    // The text as the style draws it: inside the text rectangle less the
    // style's text margins, cut by the column's elide mode.
    QString ShownText(const QStyleOptionViewItem& option, const QModelIndex& index) const
    {
        QStyleOptionViewItem cell(option);
        initStyleOption(&cell, index);
        cell.textElideMode = ElideMode(index);
        if (cell.displayAlignment & Qt::AlignRight)
            cell.rect.adjust(0, 0, -RightGap, 0);
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect rect = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, widget).adjusted(margin, 0, -margin, 0);
        return cell.fontMetrics.elidedText(cell.text, cell.textElideMode, std::max(0, rect.width()));
    }

private:
    Qt::TextElideMode ElideMode(const QModelIndex& index) const
    {
        const int column = index.column();
        return column >= 0 && column < FView.ColumnCount() ? FView.Column(column).Elide : Qt::ElideRight;
    }

    TCustomListView& FView;
};

namespace {

QAccessibleInterface* ListViewAccessibleFactory(const QString& className, QObject* object);

} // namespace

// The thin table model Qt's view reads. Its row count is what the view has
// been told; it catches up with the control at the end of each update bracket
// by one append or removal at the end, never one signal per row.
class TListViewItemModel final : public QAbstractTableModel {
public:
    explicit TListViewItemModel(TCustomListView& view) : QAbstractTableModel(&view), FView(view) {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : FRowCount;
    }

    int columnCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : FView.ColumnCount();
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        if (!index.isValid())
            return Qt::NoItemFlags;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        const int row = index.row();
        const int column = index.column();
        if (!index.isValid() || row >= FView.ItemCount() || column >= FView.ColumnCount())
            return QVariant();
        switch (role) {
        case Qt::DisplayRole: {
            const QStringList& texts = FView.CachedRow(row).Texts;
            return column < texts.size() ? texts.at(column) : QString();
        }
        case Qt::DecorationRole:
            if (column == 0)
                return FView.Decoration(row);
            break;
        case Qt::ToolTipRole: {
            const QStringList& hints = FView.CachedRow(row).Hints;
            return column < hints.size() ? hints.at(column) : QString();
        }
        case Qt::TextAlignmentRole:
            return static_cast<int>(Alignment(column));
        default:
            break;
        }
        return QVariant();
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || section < 0 || section >= FView.ColumnCount())
            return QVariant();
        if (role == Qt::DisplayRole)
            return QString::fromStdString(FView.Column(section).Caption);
        if (role == Qt::TextAlignmentRole)
            return static_cast<int>(Alignment(section));
        return QVariant();
    }

    void SyncRowCount(int count)
    {
        if (count > FRowCount) {
            beginInsertRows(QModelIndex(), FRowCount, count - 1);
            FRowCount = count;
            endInsertRows();
        } else if (count < FRowCount) {
            beginRemoveRows(QModelIndex(), count, FRowCount - 1);
            FRowCount = count;
            endRemoveRows();
        }
    }

    void ResetColumns()
    {
        beginResetModel();
        endResetModel();
    }

private:
    Qt::Alignment Alignment(int column) const
    {
        switch (FView.Column(column).Alignment) {
        case TAlignment::RightJustify:
            return Qt::AlignRight | Qt::AlignVCenter;
        case TAlignment::Center:
            return Qt::AlignHCenter | Qt::AlignVCenter;
        case TAlignment::LeftJustify:
            break;
        }
        return Qt::AlignLeft | Qt::AlignVCenter;
    }

    TCustomListView& FView;
    int FRowCount = 0;
};

// TCustomListView ------------------------------------------------------------

TCustomListView::TCustomListView(QWidget* parent) : QTreeView(parent)
{
    // Qt's own interface for tree views reads its selection model, which is off.
    static const bool accessibleFactoryInstalled = [] {
        QAccessible::installFactory(ListViewAccessibleFactory);
        return true;
    }();
    (void)accessibleFactoryInstalled;
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
    setIconSize(QSize(ImageSize, ImageSize));
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

QString TCustomListView::ShownText(int row, int column) const
{
    CheckListIndex(row, ItemCount());
    CheckListIndex(column, ColumnCount());
    FModel->SyncRowCount(ItemCount());
    const QModelIndex index = FModel->index(row, column);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    return FDelegate->ShownText(option, index);
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
    setIconSize(QSize(FStateImages.empty() ? ImageSize : 2 * ImageSize, ImageSize));
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

const TCustomListView::TCachedRow& TCustomListView::CachedRow(int row) const
{
    if (row == FCachedRow)
        return FCache;
    TListItem item;
    try {
        GetRowData(row, item);
    } catch (...) {
        // A row whose data cannot be had is drawn empty rather than taking
        // the paint down.
        item = TListItem();
    }
    FCache.Texts.clear();
    FCache.Texts.reserve(static_cast<qsizetype>(item.SubItems.size()) + 1);
    FCache.Texts.append(QString::fromStdString(item.Caption));
    for (const std::string& text : item.SubItems)
        FCache.Texts.append(QString::fromStdString(text));
    FCache.Hints.clear();
    for (const std::string& hint : item.Hints)
        FCache.Hints.append(QString::fromStdString(hint));
    FCache.ImageIndex = item.ImageIndex;
    FCache.StateIndex = item.StateIndex;
    FCachedRow = row;
    return FCache;
}

QIcon TCustomListView::Decoration(int row) const
{
    const TCachedRow& data = CachedRow(row);
    const auto valid = [](const TImageList& list, int index) {
        return index >= 0 && static_cast<std::size_t>(index) < list.size();
    };
    const int image = valid(FSmallImages, data.ImageIndex) ? data.ImageIndex : -1;
    const int stateImage = valid(FStateImages, data.StateIndex) ? data.StateIndex : -1;
    const bool cut = (FStates[static_cast<std::size_t>(row)] & lvisCut) != 0;
    if (FStateImages.empty() && !cut)
        return image >= 0 ? FSmallImages[static_cast<std::size_t>(image)] : QIcon();

    const qint64 key = ((static_cast<qint64>(stateImage) + 1) << 33) | ((static_cast<qint64>(image) + 1) << 1) | (cut ? 1 : 0);
    const auto found = FDecorations.constFind(key);
    if (found != FDecorations.constEnd())
        return found.value();

    // State image on the left, the small image beside it; a cut row's image is ghosted.
    const int width = FStateImages.empty() ? ImageSize : 2 * ImageSize;
    QPixmap pixmap(width, ImageSize);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        if (stateImage >= 0)
            FStateImages[static_cast<std::size_t>(stateImage)].paint(&painter, QRect(0, 0, ImageSize, ImageSize));
        if (image >= 0)
            FSmallImages[static_cast<std::size_t>(image)].paint(&painter, QRect(width - ImageSize, 0, ImageSize, ImageSize),
                Qt::AlignCenter, cut ? QIcon::Disabled : QIcon::Normal);
    }
    QIcon icon(pixmap);
    FDecorations.insert(key, icon);
    return icon;
}

void TCustomListView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const int row = index.row();
    const int state = row < ItemCount() ? FStates[static_cast<std::size_t>(row)] : 0;
    QStyleOptionViewItem rowOption(option);
    rowOption.state.setFlag(QStyle::State_Selected, (state & (lvisSelected | lvisDropHilited)) != 0);
    QTreeView::drawRow(painter, rowOption, index);
    if ((state & lvisFocused) && hasFocus()) {
        QStyleOptionFocusRect frame;
        frame.QStyleOption::operator=(rowOption);
        frame.state |= QStyle::State_KeyboardFocusChange;
        const QPalette::ColorGroup group = (option.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
        frame.backgroundColor = option.palette.color(group, (state & lvisSelected) ? QPalette::Highlight : QPalette::Base);
        const int left = header()->sectionViewportPosition(header()->logicalIndex(0));
        frame.rect = QRect(left, option.rect.top(), header()->length(), option.rect.height()).intersected(option.rect);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, painter, this);
    }
}

void TCustomListView::paintEvent(QPaintEvent* event)
{
    FRepaintPending = false;
    FCachedRow = -1;
    QTreeView::paintEvent(event);
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

// Accessibility --------------------------------------------------------------
//
// The view is a table for assistive technologies: the column headers, then
// the rows' cells row by row, as Qt numbers the children of its own tables.
// Cells are made when first asked for and kept with what the assistive
// technology was last told of them, so that each keeps one identity and hears
// of its own changes. Nothing walks all rows except a query that asks for all
// of them.

namespace {

// Past this many known cells they are all dropped and made anew on demand, so
// that a client walking a million rows cannot grow them without bound.
constexpr std::size_t MaxKnownCells = 4096;

// The most cells selectedCells() lists; beyond that a client asks by row.
constexpr int MaxSelectedCells = 1024;

qint64 CellKey(int row, int column) noexcept
{
    return (static_cast<qint64>(row) << 32) | static_cast<quint32>(column);
}

std::function<void(QAccessibleEvent&)>& AccessibilityListener()
{
    static std::function<void(QAccessibleEvent&)> listener;
    return listener;
}

bool AccessibilityActive()
{
    return AccessibilityListener() || QAccessible::isActive();
}

void Notify(QAccessibleInterface* iface, QAccessible::Event type)
{
    if (!iface)
        return;
    QAccessibleEvent event(iface, type);
    if (AccessibilityListener())
        AccessibilityListener()(event);
    else
        QAccessible::updateAccessibility(&event);
}

} // namespace

// One cell, or with row -1 the header of its column.
class TListViewAccessibleCell final : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
    TListViewAccessibleCell(TCustomListView& view, int row, int column) : FView(&view), FRow(row), FColumn(column) {}

    const TCustomListView* View() const noexcept { return FView.data(); }
    int Row() const noexcept { return FRow; }
    int Column() const noexcept { return FColumn; }

    // The cell's text as the row's owner gives it now; the caption for a header.
    QString Text() const
    {
        if (!isValid())
            return QString();
        if (FRow < 0)
            return QString::fromStdString(FView->Column(FColumn).Caption);
        const QStringList& texts = FView->CachedRow(FRow).Texts;
        return FColumn < texts.size() ? texts.at(FColumn) : QString();
    }

    bool isValid() const override
    {
        return FView && FColumn < FView->ColumnCount() && FRow < FView->ItemCount();
    }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return FView ? FView->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override
    {
        return FView ? QAccessible::queryAccessibleInterface(FView.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Name)
            return Text();
        if (type != QAccessible::Description || !isValid() || FRow < 0)
            return QString();
        const QStringList& hints = FView->CachedRow(FRow).Hints;
        return FColumn < hints.size() ? hints.at(FColumn) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override
    {
        if (!isValid())
            return QRect();
        const QWidget* area = FRow < 0 ? FView->header()->viewport() : FView->viewport();
        const QRect local = LocalRect();
        return local.isValid() ? QRect(area->mapToGlobal(local.topLeft()), local.size()) : QRect();
    }

    QAccessible::Role role() const override { return FRow < 0 ? QAccessible::ColumnHeader : QAccessible::Cell; }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        const QWidget* area = FRow < 0 ? FView->header()->viewport() : FView->viewport();
        if (!area->isVisible() || !area->rect().intersects(LocalRect()))
            state.offscreen = true;
        if (FRow < 0)
            return state;
        state.selectable = true;
        state.focusable = true;
        state.multiSelectable = state.extSelectable = FView->MultiSelect();
        const int bits = FView->ItemState(FRow);
        state.selected = (bits & lvisSelected) != 0;
        state.focused = (bits & lvisFocused) && FView->hasFocus();
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableCellInterface && FRow >= 0)
            return static_cast<QAccessibleTableCellInterface*>(this);
        return nullptr;
    }

    bool isSelected() const override { return isValid() && FRow >= 0 && (FView->ItemState(FRow) & lvisSelected); }
    QList<QAccessibleInterface*> columnHeaderCells() const override;
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return FColumn; }
    int rowIndex() const override { return FRow; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

private:
    // In the coordinates of the header's or the rows' viewport; Qt's model may
    // lag behind the rows inside an update bracket, and then it is empty.
    QRect LocalRect() const
    {
        if (FRow < 0) {
            const QHeaderView* header = FView->header();
            return QRect(header->sectionViewportPosition(FColumn), 0, header->sectionSize(FColumn), header->height());
        }
        return FView->visualRect(FView->FModel->index(FRow, FColumn));
    }

    QPointer<TCustomListView> FView;
    int FRow;
    int FColumn;
};

class TListViewAccessible final : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit TListViewAccessible(TCustomListView& view) : QAccessibleWidget(&view, QAccessible::Table) {}
    ~TListViewAccessible() override { DropKnownCells(); }

    TCustomListView& View() const { return *static_cast<TCustomListView*>(widget()); }

    // Forgets the known cells once there are too many. Only where a client's
    // question begins: a question's answer may hold many cells.
    void TrimKnownCells() const
    {
        if (FKnownCells.size() >= MaxKnownCells)
            DropKnownCells();
    }

    // The cell at row and column (row -1: the column's header), known from
    // now on; both must be in range.
    QAccessibleInterface* Cell(int row, int column) const
    {
        const qint64 key = CellKey(row, column);
        if (const auto known = FKnownCells.find(key); known != FKnownCells.end())
            return QAccessible::accessibleInterface(known->second.Id);
        auto cell = std::make_unique<TListViewAccessibleCell>(View(), row, column);
        TKnownCell known{0, cell->Text(), cell->isSelected()};
        QAccessibleInterface* iface = cell.release(); // Qt's accessibility cache owns it now
        known.Id = QAccessible::registerAccessibleInterface(iface);
        FKnownCells.emplace(key, std::move(known));
        return iface;
    }

    // Tells of what changed since the last time: the texts and selection of
    // known cells, the selection of one row or (for several) of the table as
    // a whole, and the focused row while the view has the focus.
    void Update(int selectionChanges, int changedRow)
    {
        TrimKnownCells();
        TCustomListView& view = View();
        const int columns = view.ColumnCount();
        const bool changedRowKnown = FKnownCells.count(CellKey(changedRow, 0)) > 0;
        // Told after the walk: a client may ask for more cells while it hears.
        std::vector<std::pair<QAccessible::Id, QAccessible::Event>> changes;
        std::vector<qint64> gone;
        for (auto& [key, known] : FKnownCells) {
            auto* cell = static_cast<TListViewAccessibleCell*>(QAccessible::accessibleInterface(known.Id));
            if (!cell || !cell->isValid()) {
                gone.push_back(key);
                continue;
            }
            QString name = cell->Text();
            if (name != known.Name) {
                known.Name = std::move(name);
                changes.emplace_back(known.Id, QAccessible::NameChanged);
            }
            const bool selected = cell->isSelected();
            if (selected != known.Selected) {
                known.Selected = selected;
                changes.emplace_back(known.Id, selected ? QAccessible::SelectionAdd : QAccessible::SelectionRemove);
            }
        }
        for (const qint64 key : gone) {
            QAccessible::deleteAccessibleInterface(FKnownCells[key].Id);
            FKnownCells.erase(key);
        }
        for (const auto& [id, type] : changes)
            Notify(QAccessible::accessibleInterface(id), type);

        if (selectionChanges == 1 && changedRow >= 0 && changedRow < view.ItemCount() && columns > 0) {
            if (!changedRowKnown) {
                QAccessibleInterface* cell = Cell(changedRow, 0);
                Notify(cell, cell->tableCellInterface()->isSelected() ? QAccessible::SelectionAdd
                                                                      : QAccessible::SelectionRemove);
            }
        } else if (selectionChanges > 1) {
            Notify(this, QAccessible::SelectionWithin);
        }

        const bool hasFocus = view.hasFocus();
        const int focused = view.ItemFocused();
        if (hasFocus && focused >= 0 && columns > 0 && (!FHadFocus || focused != FAnnouncedFocus)) {
            Notify(Cell(focused, 0), QAccessible::Focus);
            FAnnouncedFocus = focused;
        }
        if (!hasFocus)
            FAnnouncedFocus = -1;
        FHadFocus = hasFocus;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.multiSelectable = state.extSelectable = View().MultiSelect();
        return state;
    }

    int childCount() const override
    {
        const TCustomListView& view = View();
        const qint64 count = (static_cast<qint64>(view.ItemCount()) + 1) * view.ColumnCount();
        return static_cast<int>(std::min<qint64>(count, INT_MAX));
    }

    QAccessibleInterface* child(int index) const override
    {
        TrimKnownCells();
        const int columns = View().ColumnCount();
        if (index < 0 || columns == 0 || index >= childCount())
            return nullptr;
        return Cell(index / columns - 1, index % columns);
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const auto* cell = dynamic_cast<const TListViewAccessibleCell*>(child);
        if (!cell || cell->View() != &View() || !cell->isValid())
            return -1;
        return (cell->Row() + 1) * View().ColumnCount() + cell->Column();
    }

    QAccessibleInterface* childAt(int x, int y) const override
    {
        TrimKnownCells();
        // Never the base's: it would ask every child for its rectangle.
        TCustomListView& view = View();
        const QPoint global(x, y);
        const QHeaderView* header = view.header();
        const QPoint inHeader = header->viewport()->mapFromGlobal(global);
        if (header->isVisible() && header->viewport()->rect().contains(inHeader)) {
            const int column = header->logicalIndexAt(inHeader.x());
            return column >= 0 && column < view.ColumnCount() ? Cell(-1, column) : nullptr;
        }
        const QModelIndex index = view.indexAt(view.viewport()->mapFromGlobal(global));
        if (!index.isValid() || index.row() >= view.ItemCount() || index.column() >= view.ColumnCount())
            return nullptr;
        return Cell(index.row(), index.column());
    }

    QAccessibleInterface* focusChild() const override
    {
        TrimKnownCells();
        const TCustomListView& view = View();
        if (view.hasFocus() && view.ItemFocused() >= 0 && view.ColumnCount() > 0)
            return Cell(view.ItemFocused(), 0);
        return QAccessibleWidget::focusChild();
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }

    QAccessibleInterface* cellAt(int row, int column) const override
    {
        TrimKnownCells();
        const TCustomListView& view = View();
        if (row < 0 || row >= view.ItemCount() || column < 0 || column >= view.ColumnCount())
            return nullptr;
        return Cell(row, column);
    }

    int selectedCellCount() const override
    {
        const qint64 count = static_cast<qint64>(View().SelectedCount()) * View().ColumnCount();
        return static_cast<int>(std::min<qint64>(count, INT_MAX));
    }

    QList<QAccessibleInterface*> selectedCells() const override
    {
        TrimKnownCells();
        const TCustomListView& view = View();
        const int columns = view.ColumnCount();
        QList<QAccessibleInterface*> cells;
        if (columns == 0)
            return cells;
        const int count = view.ItemCount();
        for (int row = 0; row < count && view.SelectedCount() > 0 && cells.size() + columns <= MaxSelectedCells; ++row)
            if (view.ItemState(row) & lvisSelected)
                for (int column = 0; column < columns; ++column)
                    cells.append(Cell(row, column));
        return cells;
    }

    QString columnDescription(int column) const override
    {
        const TCustomListView& view = View();
        return column >= 0 && column < view.ColumnCount() ? QString::fromStdString(view.Column(column).Caption)
                                                          : QString();
    }

    QString rowDescription(int) const override { return QString(); }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return View().SelectedCount(); }
    int columnCount() const override { return View().ColumnCount(); }
    int rowCount() const override { return View().ItemCount(); }
    QList<int> selectedColumns() const override { return {}; }

    QList<int> selectedRows() const override
    {
        const TIntegerDynArray rows = View().GetSelection();
        return QList<int>(rows.begin(), rows.end());
    }

    bool isColumnSelected(int) const override { return false; }

    bool isRowSelected(int row) const override
    {
        const TCustomListView& view = View();
        return row >= 0 && row < view.ItemCount() && (view.ItemState(row) & lvisSelected);
    }

    // A client's selection is a user's gesture: the owner hears of it.
    bool selectRow(int row) override { return SetRowSelected(row, true); }
    bool unselectRow(int row) override { return SetRowSelected(row, false); }
    bool selectColumn(int) override { return false; }
    bool unselectColumn(int) override { return false; }

    void modelChange(QAccessibleTableModelChangeEvent*) override { View().RequestAccessibilityUpdate(); }

private:
    struct TKnownCell {
        QAccessible::Id Id;
        QString Name;  // as the client was last told
        bool Selected; // likewise
    };

    bool SetRowSelected(int row, bool on)
    {
        TCustomListView& view = View();
        if (row < 0 || row >= view.ItemCount())
            return false;
        view.BeginGesture();
        if (on && !view.MultiSelect())
            view.SelectOnly(row);
        else
            view.PutState(row, on ? view.ItemState(row) | lvisSelected : view.ItemState(row) & ~lvisSelected);
        view.EndGesture();
        return true;
    }

    void DropKnownCells() const
    {
        for (const auto& [key, known] : FKnownCells)
            QAccessible::deleteAccessibleInterface(known.Id);
        FKnownCells.clear();
    }

    mutable std::unordered_map<qint64, TKnownCell> FKnownCells;
    int FAnnouncedFocus = -1;
    bool FHadFocus = false;
};

QList<QAccessibleInterface*> TListViewAccessibleCell::columnHeaderCells() const
{
    const auto* table = FView ? dynamic_cast<TListViewAccessible*>(parent()) : nullptr;
    if (!table || !isValid())
        return {};
    return {table->Cell(-1, FColumn)};
}

namespace {

QAccessibleInterface* ListViewAccessibleFactory(const QString& className, QObject* object)
{
    auto* view = qobject_cast<TCustomListView*>(object);
    if (!view || className != QLatin1String(object->metaObject()->className()))
        return nullptr;
    return new TListViewAccessible(*view); // Qt's accessibility cache owns it
}

} // namespace

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
    if (FAccessibilityPending || !AccessibilityActive())
        return;
    FAccessibilityPending = true;
    QMetaObject::invokeMethod(this, [this] { Guarded([this] { UpdateAccessibility(); }); }, Qt::QueuedConnection);
}

void TCustomListView::UpdateAccessibility()
{
    FAccessibilityPending = false;
    const int changes = std::exchange(FSelectionChanges, 0);
    const int changedRow = std::exchange(FSelectionChangeRow, -1);
    if (!AccessibilityActive())
        return;
    if (auto* table = dynamic_cast<TListViewAccessible*>(QAccessible::queryAccessibleInterface(this)))
        table->Update(changes, changedRow);
}

void SetListViewAccessibilityListener(std::function<void(QAccessibleEvent& Event)> listener)
{
    AccessibilityListener() = std::move(listener);
}
