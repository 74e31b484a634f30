#pragma once

#include "platform/ui/components.h"

#include <memory>

class TBitmap;
class TImageStore;

// Images of one size for the list views that show them. Owned by its form; user-interface thread
// only.
class TImageList : public TComponent {
public:
    explicit TImageList(TComponent* owner);
    ~TImageList() override;

    int Width() const;
    int Height() const;
    // Set the size of every image that the list holds; a change empties the list.
    void SetWidth(int width);
    void SetHeight(int height);
    int Count() const;

    // Stores a copy of image at the list's size and returns its 0-based index. The mask is not used
    // and may be null. Raises Exception for a null image or one of another size.
    int Add(TBitmap* image, TBitmap* mask);
    void Clear();

private:
    friend TImageStore& ImageStoreOf(const TImageList& list);

    std::unique_ptr<TImageStore> m_store;
};
