#include "DocumentListRig.h"

TDocumentListRig::TDocumentListRig(int width, int height) : Selection(Model, View)
{
    Model.OnAdded = [this](TDocumentEntriesModel& m, const TIntegerDynArray& i) { Selection.EntriesAdded(m, i); };
    Model.OnDeleted = [this](TDocumentEntriesModel& m, const TIntegerDynArray& i) { Selection.EntriesDeleted(m, i); };
    Model.OnCleared = [this](TDocumentEntriesModel& m) { Selection.EntriesCleared(m); };
    Model.OnReordered = [this](TDocumentEntriesModel& m, const TReorderRecords& r) {
        Selection.EntriesReordered(m, r);
    };
    Model.OnChanged = [this](TDocumentEntriesModel& m, const TIntegerDynArray& i) { Selection.EntriesChanged(m, i); };
    View.SetColumns({{"Name", 100}, {"Directory", 100}, {"Size", 60}, {"Type", 80}, {"Time", 80}, {"Result", 60}});
    View.OnData = [this](TVirtualListView&, int row, TListItem& item) {
        ++DataCalls;
        const TDocumentEntry& entry = *Model.GetItem(row);
        item.Caption = entry.GetNameText();
        item.SubItems = {entry.GetDirectoryText(), entry.GetSizeText(), entry.GetTypeText(),
                         entry.GetLastWriteTimeText(), entry.GetResultText()};
    };
    View.resize(width, height);
    View.show();
}
