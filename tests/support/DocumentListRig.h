#pragma once
// The document model, the virtual list view and the selection wired as the
// main form wires them, the view shown with each entry's texts as its row.

#include "App_documents.h"
#include "Zel_listviews.h"

class TDocumentListRig {
public:
    TDocumentListRig(int width, int height);
    TDocumentListRig(const TDocumentListRig&) = delete;
    TDocumentListRig& operator=(const TDocumentListRig&) = delete;

    TDocumentEntriesModel Model;
    TVirtualListView View;
    TDocumentEntriesSelection Selection;
    // How often the view has asked for a row's data.
    int DataCalls = 0;
};
