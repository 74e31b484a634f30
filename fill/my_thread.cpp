#include "app/fMain.h"
#include "platform/core/files.h"

#include <memory>

void TForm1::Button2Click(TObject* /*sender*/) {
    new TMyThread(this); // frees itself when its run ends (FreeOnTerminate)
}

TMyThread::TMyThread(TForm1* form) : TThread(true), Form(form) {
    FreeOnTerminate = true;
    Resume();
}

// Scans, probes and loads on this thread; the gallery is touched only on the user-interface thread,
// through Synchronize, which blocks until the call has run there.
void TMyThread::Execute() {
    Synchronize(&TMyThread::ClearFormGallery);
    auto files = std::unique_ptr<TStringList>(Form->ListImageFiles(true));
    for (int index = 0; index < files->Count(); ++index) {
        FilePath = files->Strings(index);
        if (!FileExists(FilePath))
            continue;
        auto thumbnail = std::unique_ptr<TBitmap>(
            Form->LoadThumbnailOfKind(Form->ProbeImageKind(FilePath), FilePath));
        if (thumbnail == nullptr)
            continue;
        Thumbnail = thumbnail.get();
        Synchronize(&TMyThread::AddCurrentThumbnail);
        Thumbnail = nullptr;
    }
}

void TMyThread::ClearFormGallery() {
    Form->ClearGallery();
}

void TMyThread::AddCurrentThumbnail() {
    Form->AddGalleryItem(ExtractFileName(FilePath), Thumbnail);
}
