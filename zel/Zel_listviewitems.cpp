#include "Zel_listviewitems.h"

#include "Zel_listviews.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>

namespace {

// Right-aligned texts keep this gap to the column's right edge, in the
// header and in the cells alike, so that a number never runs into the text
// beside it and stays under its caption.
constexpr int RightGap = 4;

} // namespace

// TListViewHeaderStyle -------------------------------------------------------

QRect TListViewHeaderStyle::subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const
{
    QRect rect = QProxyStyle::subElementRect(element, option, widget);
    if (element == SE_HeaderLabel)
        if (const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option))
            if (header->textAlignment & Qt::AlignRight)
                rect.adjust(0, 0, -RightGap, 0);
    return rect;
}

QSize TListViewHeaderStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                             const QWidget* widget) const
{
    if (type == CT_HeaderSection && widget)
        if (const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option)) {
            QStyleOptionHeader plain(*header);
            plain.fontMetrics = widget->fontMetrics();
            return QProxyStyle::sizeFromContents(type, &plain, size, widget);
        }
    return QProxyStyle::sizeFromContents(type, option, size, widget);
}

// TListViewDelegate ----------------------------------------------------------

TListViewDelegate::TListViewDelegate(TCustomListView& view) : QStyledItemDelegate(&view), FView(view) {}

void TListViewDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
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

bool TListViewDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                  const QModelIndex& index)
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

QString TListViewDelegate::ShownText(const QStyleOptionViewItem& option, const QModelIndex& index) const
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

Qt::TextElideMode TListViewDelegate::ElideMode(const QModelIndex& index) const
{
    const int column = index.column();
    return column >= 0 && column < FView.ColumnCount() ? FView.Column(column).Elide : Qt::ElideRight;
}

// TListViewItemModel ---------------------------------------------------------

TListViewItemModel::TListViewItemModel(TCustomListView& view) : QAbstractTableModel(&view), FView(view) {}

int TListViewItemModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : FRowCount;
}

int TListViewItemModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : FView.ColumnCount();
}

Qt::ItemFlags TListViewItemModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

QVariant TListViewItemModel::data(const QModelIndex& index, int role) const
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

QVariant TListViewItemModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= FView.ColumnCount())
        return QVariant();
    if (role == Qt::DisplayRole)
        return QString::fromStdString(FView.Column(section).Caption);
    if (role == Qt::TextAlignmentRole)
        return static_cast<int>(Alignment(section));
    return QVariant();
}

void TListViewItemModel::SyncRowCount(int count)
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

void TListViewItemModel::ResetColumns()
{
    beginResetModel();
    endResetModel();
}

Qt::Alignment TListViewItemModel::Alignment(int column) const
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

// TCustomListView: its rows on the screen ------------------------------------

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
    const int width = FStateImages.empty() ? ListViewImageSize : 2 * ListViewImageSize;
    QPixmap pixmap(width, ListViewImageSize);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        if (stateImage >= 0)
            FStateImages[static_cast<std::size_t>(stateImage)].paint(&painter, QRect(0, 0, ListViewImageSize, ListViewImageSize));
        if (image >= 0)
            FSmallImages[static_cast<std::size_t>(image)].paint(&painter, QRect(width - ListViewImageSize, 0, ListViewImageSize, ListViewImageSize),
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
