#include "app/fMain.h"

TForm1* Form1 = nullptr;

TForm1::TForm1(TComponent* owner) : TForm(owner) {}

void TForm1::Publish(TPublishedMembers& published) {
    published.Field("Button1", Button1);
    published.Field("ListView1", ListView1);
    published.Field("ImageList1", ImageList1);
    published.Handler("Button1Click", this, &TForm1::Button1Click);
    published.Handler("FormCreate", this, &TForm1::FormCreate);
#if OMBREL_MT
    published.Field("Button2", Button2);
    published.Handler("Button2Click", this, &TForm1::Button2Click);
#endif
}

void TForm1::FormCreate(TObject* /*sender*/) {
    ThumbWidth = 100;
    ThumbHeight = 110;
    ImageList1->SetWidth(ThumbWidth);
    ImageList1->SetHeight(ThumbHeight);
    ListView1->SetLargeImages(ImageList1);
}
