#include "Zel_listviewaccessible.h"

#include "Zel_listviewitems.h"
#include "Zel_listviews.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHeaderView>
#include <QLibraryInfo>
#include <QScopedValueRollback>
#include <QVersionNumber>

#include <algorithm>
#include <climits>
#include <memory>
#include <unordered_map>
#include <utility>

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
        const bool hasFocus = view.hasFocus();
        const int focused = view.ItemFocused();
        const qint64 focusedKey = CellKey(focused, 0);
        bool focusedRowTold = false;
        for (const auto& [id, type] : changes) {
            focusedRowTold = focusedRowTold || (type != QAccessible::NameChanged && id == KnownId(focusedKey));
            Notify(QAccessible::accessibleInterface(id), type);
        }

        if (selectionChanges == 1 && changedRow >= 0 && changedRow < view.ItemCount() && columns > 0) {
            if (!changedRowKnown) {
                QAccessibleInterface* cell = Cell(changedRow, 0);
                Notify(cell, cell->tableCellInterface()->isSelected() ? QAccessible::SelectionAdd
                                                                      : QAccessible::SelectionRemove);
                focusedRowTold = focusedRowTold || changedRow == focused;
            }
        } else if (selectionChanges > 1) {
            NotifySelectionWithin();
        }
        // The row a gesture lands on is told to be selected also when it was
        // before (a click on one of several selected rows): the others' news
        // alone would leave the user guessing.
        if (selectionChanges > 0 && hasFocus && focused >= 0 && columns > 0 && !focusedRowTold
            && (view.ItemState(focused) & lvisSelected))
            Notify(Cell(focused, 0), QAccessible::SelectionAdd);

        if (hasFocus && focused >= 0 && columns > 0 && (!FHadFocus || focused != FAnnouncedFocus)) {
            Notify(Cell(focused, 0), QAccessible::Focus);
            FAnnouncedFocus = focused;
        }
        if (!hasFocus)
            FAnnouncedFocus = -1;
        FHadFocus = hasFocus;
    }

    QAccessible::Role role() const override
    {
        return FPosingAsComboBox ? QAccessible::ComboBox : QAccessibleWidget::role();
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

    QAccessible::Id KnownId(qint64 key) const
    {
        const auto known = FKnownCells.find(key);
        return known != FKnownCells.end() ? known->second.Id : 0;
    }

    // One event for the table when many rows' selection changed. Qt 6.4's
    // AT-SPI bridge (Debian 12) drops SelectionWithin; the one event it turns
    // into a selection-changed of the object is a value change of a combo
    // box, so the table is one for as long as that event passes.
    void NotifySelectionWithin()
    {
        Notify(this, QAccessible::SelectionWithin);
        static const bool bridgeDropsIt = QLibraryInfo::version() < QVersionNumber(6, 5);
        if (!bridgeDropsIt || AccessibilityListener())
            return;
        const QScopedValueRollback<bool> posing(FPosingAsComboBox, true);
        QAccessibleValueChangeEvent event(this, QVariant());
        QAccessible::updateAccessibility(&event);
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
    bool FPosingAsComboBox = false;
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

void InstallListViewAccessibleFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(ListViewAccessibleFactory);
        return true;
    }();
    (void)installed;
}

bool ListViewAccessibilityActive()
{
    return AccessibilityActive();
}

// TCustomListView: telling what changed --------------------------------------

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
