#include "app/fMain.h"
#include "platform/core/files.h"

#include <memory>

// Rebuilds the gallery on the user-interface thread. An error ends the fill at the current file;
// the items before it stay, and the platform shows the error.
void TForm1::Button1Click(TObject* /*sender*/) {
#if OMBREL_MT
    ClearGallery();
#else
    ImageList1->Clear();
    ListView1->Items()->Clear();
#endif
    auto files = std::unique_ptr<TStringList>(ListImageFiles(true));
    for (int index = 0; index < files->Count(); ++index) {
        const AnsiString path = files->Strings(index);
        if (!FileExists(path))
            continue;
        auto thumbnail = std::unique_ptr<TBitmap>(LoadThumbnailOfKind(ProbeImageKind(path), path));
        if (thumbnail != nullptr)
            AddGalleryItem(ExtractFileName(path), thumbnail.get());
    }
}
