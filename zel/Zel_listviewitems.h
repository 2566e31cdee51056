#pragma once
// How a list view's rows reach Qt and the screen: the thin table model Qt's
// view reads, the delegate that paints and cuts the cells, and the header's
// style. The control itself (Zel_listviews.h) keeps the rows and their states.

#include <QAbstractTableModel>
#include <QProxyStyle>
#include <QStyledItemDelegate>

class TCustomListView;

// Small and state images are this many pixels square.
constexpr int ListViewImageSize = 16;

// Right-aligned header labels keep the cells' gap to the column's right edge.
// Sections are measured in the header's own font, the one their labels are
// drawn in: Qt measures them in bold, which loads a second font before the
// first window can appear.
class TListViewHeaderStyle final : public QProxyStyle {
public:
    QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
};

// Cells never draw Qt's focus frame: the view draws one around the row that
// holds the focus bit. Each column cuts long texts where it says, and a cut
// cell shows its whole text as its tooltip.
class TListViewDelegate final : public QStyledItemDelegate {
public:
    explicit TListViewDelegate(TCustomListView& view);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // The text as the style draws it: inside the text rectangle less the
    // style's text margins, cut by the column's elide mode.
    QString ShownText(const QStyleOptionViewItem& option, const QModelIndex& index) const;

private:
    Qt::TextElideMode ElideMode(const QModelIndex& index) const;

    TCustomListView& FView;
};

// The thin table model Qt's view reads. Its row count is what the view has
// been told; it catches up with the control at the end of each update bracket
// by one append or removal at the end, never one signal per row.
class TListViewItemModel final : public QAbstractTableModel {
public:
    explicit TListViewItemModel(TCustomListView& view);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void SyncRowCount(int count);
    void ResetColumns();

private:
    Qt::Alignment Alignment(int column) const;

    TCustomListView& FView;
    int FRowCount = 0;
};
