#pragma once

// What the controls hold, read back: the programs only set it, and the tests check it.

#include "platform/core/ansi_string.h"
#include "platform/ui/components.h"
#include "platform/ui/list_view.h"

#include <vector>

TComponent* OwnerOf(const TComponent& component);
// The components it owns, in the order they were made.
std::vector<TComponent*> ComponentsOf(const TComponent& component);
TWinControl* ParentOf(const TControl& control);
// Whether the control is shown with its parent (a window: whether it is shown at all).
bool IsVisible(const TControl& control);
AnsiString CaptionOf(const TButton& button);
AnsiString CaptionOf(const TForm& form);

AnsiString CaptionOf(const TListItem& item);
int ImageIndexOf(const TListItem& item);
// Raises Exception naming the list view when there is no such item.
TListItem* ItemOf(const TListItems& items, int index);
TImageList* SmallImagesOf(const TListView& view);
TImageList* LargeImagesOf(const TListView& view);
