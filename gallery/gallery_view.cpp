#include "app/fMain.h"

// Appends one item showing a copy of the thumbnail; the caller keeps the thumbnail.
void TForm1::AddGalleryItem(AnsiString caption, TBitmap* thumbnail) {
    if (thumbnail == nullptr)
        return;
    TListItem* item = ListView1->Items()->Add();
    item->SetCaption(caption);
    item->SetImageIndex(ImageList1->Add(thumbnail, nullptr));
}

#if OMBREL_MT
void TForm1::ClearGallery() {
    ListView1->Items()->Clear();
    ImageList1->Clear();
}
#endif
