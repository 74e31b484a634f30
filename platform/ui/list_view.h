#pragma once

#include "platform/ui/components.h"

#include <memory>
#include <vector>

class TImageList;
class TListView;
class TListViewModel;

// One item of a list view, owned by its list view; user-interface thread only.
class TListItem {
public:
    TListItem(TListView& listView, int index) : m_listView(listView), m_index(index) {}
    void SetCaption(const AnsiString& caption);
    void SetImageIndex(int index);

private:
    friend AnsiString CaptionOf(const TListItem& item);
    friend int ImageIndexOf(const TListItem& item);

    TListView& m_listView;
    int m_index;
};

// The items of a list view, owned by it; user-interface thread only.
class TListItems {
public:
    explicit TListItems(TListView& listView) : m_listView(listView) {}
    // Appends an item with no caption and no image.
    TListItem* Add();
    void Clear();
    int Count() const;

private:
    friend TListItem* ItemOf(const TListItems& items, int index);

    TListView& m_listView;
    std::vector<std::unique_ptr<TListItem>> m_items;
};

// A list of items shown in icon view: each item's image from LargeImages, its caption beneath.
// User-interface thread only.
class TListView : public TWinControl {
public:
    explicit TListView(TComponent* owner);
    ~TListView() override;

    TListItems* Items() { return &m_items; }
    void SetSmallImages(TImageList* images);
    void SetLargeImages(TImageList* images);

private:
    friend class TListItem;
    friend class TListItems;
    friend AnsiString CaptionOf(const TListItem& item);
    friend int ImageIndexOf(const TListItem& item);
    friend TImageList* SmallImagesOf(const TListView& view);
    friend TImageList* LargeImagesOf(const TListView& view);
    // Fits the view's cells to the size of LargeImages.
    void UpdateCellSize();

    std::unique_ptr<TListViewModel> m_model;
    TListItems m_items;
    TImageList* m_smallImages = nullptr;
    TImageList* m_largeImages = nullptr;
};
