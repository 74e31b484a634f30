#pragma once

#include "platform/core/string_list.h"
#include "platform/ui/application.h"
#include "platform/ui/components.h"
#include "platform/ui/graphics.h"
#include "platform/ui/image_list.h"
#include "platform/ui/list_view.h"
#if OMBREL_MT
#include "platform/core/thread.h"
#endif

// The main form: the gallery and the buttons that fill it. Made by the application from its stored
// layout, which owns it and its components; user-interface thread only, except the scan, the probe
// and the loaders, which a worker may call (they read nothing of the form but the thumbnail size).
class TForm1 : public TForm {
public: // published: the stored layout fills these and binds these by name
    TButton* Button1 = nullptr;
    TListView* ListView1 = nullptr;
    TImageList* ImageList1 = nullptr;
#if OMBREL_MT
    TButton* Button2 = nullptr;
#endif
    void Button1Click(TObject* sender);
    void FormCreate(TObject* sender);
#if OMBREL_MT
    void Button2Click(TObject* sender);
#endif

public:
    explicit TForm1(TComponent* owner);
    static AnsiString ClassName() {
        return "TForm1";
    }
    void Publish(TPublishedMembers& published);

    TStringList* ListImageFiles(bool sorted);
    int ProbeImageKind(AnsiString path);
    TBitmap* NewThumbBitmap(int width, int height);
    void DrawThumbnail(TBitmap* thumbnail, TBitmap* source);
    TBitmap* LoadBitmapThumbnail(AnsiString path);
    TBitmap* LoadJpegThumbnail(AnsiString path);
    // Kind 0 through LoadBitmapThumbnail, kind 1 through LoadJpegThumbnail; null for any other
    // kind.
    TBitmap* LoadThumbnailOfKind(int kind, AnsiString path);
    void AddGalleryItem(AnsiString caption, TBitmap* thumbnail);
#if OMBREL_MT
    void ClearGallery();
#endif

private:
    // Written once by FormCreate, before any button can be pressed; workers only read them.
    int ThumbWidth = 0;
    int ThumbHeight = 0;
};

extern TForm1* Form1;

#if OMBREL_MT
// Fills the gallery of its form off the user-interface thread, handing each thumbnail over. Made by
// Button2Click; deletes itself when its run ends. Nobody else holds a pointer to it.
class TMyThread : public TThread {
public:
    explicit TMyThread(TForm1* form);

protected:
    void Execute() override;

private:
    void ClearFormGallery();
    void AddCurrentThumbnail();

    TForm1* Form;
    TBitmap* Thumbnail = nullptr;
    AnsiString FilePath;
};
#endif
