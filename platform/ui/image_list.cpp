#include "platform/ui/image_list.h"

#include "platform/core/exception.h"
#include "platform/ui/bitmap_p.h"
#include "platform/ui/control_widget_p.h"
#include "platform/ui/graphics.h"
#include "platform/ui/image_list_p.h"

#include <string>

TImageList::TImageList(TComponent* owner)
    : TComponent(owner), m_store(std::make_unique<TImageStore>()) {}

TImageList::~TImageList() = default;

int TImageList::Width() const {
    return m_store->size.width();
}
int TImageList::Height() const {
    return m_store->size.height();
}
int TImageList::Count() const {
    return static_cast<int>(m_store->images.size());
}

namespace {

std::string SizeText(int width, int height) {
    return std::to_string(width) + " by " + std::to_string(height);
}

void Resize(const TImageList& list, TImageStore& store, QSize size) {
    AssertUiThread();
    if (size.width() <= 0 || size.height() <= 0)
        throw Exception(AnsiString("Cannot make the images of image list " + list.Name().str() +
                                   " " + SizeText(size.width(), size.height()) +
                                   ": the size must be positive"));
    if (size == store.size)
        return;
    store.size = size;
    store.images.clear();
    emit store.Changed(true);
}

} // namespace

void TImageList::SetWidth(int width) {
    Resize(*this, *m_store, QSize(width, Height()));
}
void TImageList::SetHeight(int height) {
    Resize(*this, *m_store, QSize(Width(), height));
}

int TImageList::Add(TBitmap* image, TBitmap* /*mask*/) {
    AssertUiThread();
    const std::string problem = "Cannot add a picture to image list " + Name().str() + ": ";
    if (image == nullptr)
        throw Exception(AnsiString(problem + "there is no picture"));
    if (image->Width() != Width() || image->Height() != Height())
        throw Exception(AnsiString(problem + "it is " + SizeText(image->Width(), image->Height()) +
                                   ", the list holds " + SizeText(Width(), Height())));
    const QImage& pixels = PixelsOf(*image).image;
    // A deep copy of exactly the list's size: later drawing on the bitmap must not reach the list,
    // and an implicitly shared copy would pin the bitmap's whole buffer.
    QImage copy = pixels.convertToFormat(QImage::Format_RGB888).copy();
    if (copy.isNull())
        throw Exception(AnsiString(problem + "out of memory"));
    // Painted at the list's size, with every pixel that a high-density display can show.
    copy.setDevicePixelRatio(DensityOf(*image));
    m_store->images.push_back(std::move(copy));
    emit m_store->Changed(false);
    return Count() - 1;
}

TImageStore& ImageStoreOf(const TImageList& list) {
    return *list.m_store;
}

void TImageList::Clear() {
    AssertUiThread();
    m_store->images.clear();
    emit m_store->Changed(false);
}
