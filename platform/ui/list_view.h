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
    int Index() const { return m_index; }
    AnsiString Caption() const;
    void SetCaption(const AnsiString& caption);
    int ImageIndex() const;
    void SetImageIndex(int index);

private:
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
    TListItem* Item(int index) const;

private:
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
    TImageList* SmallImages() const { return m_smallImages; }
    void SetSmallImages(TImageList* images);
    TImageList* LargeImages() const { return m_largeImages; }
    void SetLargeImages(TImageList* images);

private:
    friend class TListItem;
    friend class TListItems;
    // Fits the view's cells to the size of LargeImages.
    void UpdateCellSize();

    std::unique_ptr<TListViewModel> m_model;
    TListItems m_items;
    TImageList* m_smallImages = nullptr;
    TImageList* m_largeImages = nullptr;
};
