#include "platform/ui/list_view.h"

#include "platform/core/exception.h"
#include "platform/ui/control_widget_p.h"
#include "platform/ui/controls_p.h"
#include "platform/ui/image_list.h"
#include "platform/ui/image_list_p.h"

#include <QAbstractListModel>
#include <QListView>
#include <QPointer>
#include <QStyledItemDelegate>

#include <string>

namespace {

// Space around the image and the caption inside a cell, and between cells.
constexpr int CellPadding = 3;
constexpr int CellSpacing = 4;
// The cell of a list view without images.
constexpr QSize NoImageSize{32, 32};

// Every cell is the same size, so the view never measures items one by one; the style elides a
// caption that is wider than the cell.
class TCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return cell; }

    QSize cell = NoImageSize;
};

// The icon view: each image above its caption, in a grid that wraps into rows and scrolls
// vertically.
class TIconView : public QListView {
public:
    TIconView() {
        setViewMode(QListView::IconMode);
        setMovement(QListView::Static);
        setFlow(QListView::LeftToRight);
        setWrapping(true);
        setResizeMode(QListView::Adjust);
    }

protected:
    // Qt drops the layout of every item when one is inserted and lays them out again from a timer;
    // a paint that comes first would show an empty gallery. So the layout comes first.
    void paintEvent(QPaintEvent* event) override {
        executeDelayedItemsLayout();
        QListView::paintEvent(event);
    }
};

} // namespace

// The items of one list view: a caption and an image index each. The images themselves stay in the
// image list and are looked up at paint time, so an item holds no pixels of its own.
class TListViewModel : public QAbstractListModel {
public:
    struct TRow {
        QString caption;
        int imageIndex = -1;
    };

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount(QModelIndex()))
            return {};
        const TRow& row = rows[static_cast<std::size_t>(index.row())];
        if (role == Qt::DisplayRole)
            return row.caption;
        if (role == Qt::DecorationRole && largeImages != nullptr)
            if (const QImage* image = largeImages->Find(row.imageIndex))
                return *image; // implicitly shared: no copy of the pixels
        return {};
    }

    void Append() {
        const int row = rowCount(QModelIndex());
        beginInsertRows(QModelIndex(), row, row);
        rows.emplace_back();
        endInsertRows();
    }

    void Clear() {
        beginResetModel();
        rows.clear();
        endResetModel();
    }

    TRow& Row(int row) { return rows.at(static_cast<std::size_t>(row)); }
    void RowChanged(int row) { emit dataChanged(index(row), index(row)); }

    std::vector<TRow> rows;
    QPointer<TImageStore> largeImages;
    QMetaObject::Connection largeChanged;
    QMetaObject::Connection largeDestroyed;
    QMetaObject::Connection smallDestroyed;
};

namespace {

QListView* View(const TListView& listView) {
    return static_cast<QListView*>(WidgetOf(listView).widget.data());
}

} // namespace

// TListItem

AnsiString CaptionOf(const TListItem& item) {
    return FromQString(item.m_listView.m_model->Row(item.m_index).caption);
}

void TListItem::SetCaption(const AnsiString& caption) {
    AssertUiThread();
    m_listView.m_model->Row(m_index).caption = ToQString(caption);
    m_listView.m_model->RowChanged(m_index);
}

int ImageIndexOf(const TListItem& item) {
    return item.m_listView.m_model->Row(item.m_index).imageIndex;
}

void TListItem::SetImageIndex(int index) {
    AssertUiThread();
    m_listView.m_model->Row(m_index).imageIndex = index;
    m_listView.m_model->RowChanged(m_index);
}

// TListItems

TListItem* TListItems::Add() {
    AssertUiThread();
    m_items.push_back(std::make_unique<TListItem>(m_listView, Count()));
    try {
        m_listView.m_model->Append();
    } catch (...) {
        m_items.pop_back();
        throw;
    }
    return m_items.back().get();
}

void TListItems::Clear() {
    AssertUiThread();
    m_listView.m_model->Clear();
    m_items.clear();
}

int TListItems::Count() const {
    return static_cast<int>(m_items.size());
}

TListItem* ItemOf(const TListItems& items, int index) {
    if (index < 0 || index >= items.Count())
        throw Exception(AnsiString("List view " + items.m_listView.Name().str() + " has no item " +
                                   std::to_string(index) + " (it holds " +
                                   std::to_string(items.Count()) + ")"));
    return items.m_items[static_cast<std::size_t>(index)].get();
}

// TListView

TListView::TListView(TComponent* owner)
    : TWinControl(owner), m_model(std::make_unique<TListViewModel>()), m_items(*this) {
    auto view = std::make_unique<TIconView>();
    // Thousands of items: one size for all, and the layout done a batch at a time.
    view->setUniformItemSizes(true);
    view->setLayoutMode(QListView::Batched);
    view->setBatchSize(500);
    view->setWordWrap(false);
    view->setTextElideMode(Qt::ElideRight);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setItemDelegate(new TCellDelegate(view.get())); // owned by the view
    view->setModel(m_model.get());
    SetWidget(std::make_unique<TControlWidget>(view.get()));
    // From here the view belongs to its Qt parent, or to ~TControl while it has none.
    static_cast<void>(view.release());
    UpdateCellSize();
}

TListView::~TListView() = default;

void TListView::SetSmallImages(TImageList* images) {
    AssertUiThread();
    QObject::disconnect(m_model->smallDestroyed);
    m_smallImages = images;
    if (images != nullptr)
        m_model->smallDestroyed =
            QObject::connect(&ImageStoreOf(*images), &QObject::destroyed, m_model.get(),
                             [this] { m_smallImages = nullptr; });
}

void TListView::SetLargeImages(TImageList* images) {
    AssertUiThread();
    QObject::disconnect(m_model->largeChanged);
    QObject::disconnect(m_model->largeDestroyed);
    m_largeImages = images;
    m_model->largeImages = images != nullptr ? &ImageStoreOf(*images) : nullptr;
    if (images != nullptr) {
        m_model->largeChanged = QObject::connect(&ImageStoreOf(*images), &TImageStore::Changed,
                                                 m_model.get(), [this](bool sizeChanged) {
                                                     if (sizeChanged)
                                                         UpdateCellSize();
                                                     // Painting looks the images up, so a repaint
                                                     // is all that an added or removed image needs;
                                                     // telling the view that every row changed
                                                     // would cost a pass over all.
                                                     if (QListView* view = View(*this))
                                                         view->viewport()->update();
                                                 });
        m_model->largeDestroyed =
            QObject::connect(&ImageStoreOf(*images), &QObject::destroyed, m_model.get(), [this] {
                m_largeImages = nullptr;
                UpdateCellSize();
            });
    }
    UpdateCellSize();
}

void TListView::UpdateCellSize() {
    QListView* view = View(*this);
    if (view == nullptr)
        return;
    const TImageStore* images = m_model->largeImages;
    const QSize image = images != nullptr ? images->size : NoImageSize;
    const int captionHeight = view->fontMetrics().height();
    const QSize cell(image.width() + 2 * CellPadding,
                     image.height() + captionHeight + 3 * CellPadding);
    static_cast<TCellDelegate*>(view->itemDelegate())->cell = cell;
    view->setIconSize(image);
    view->setGridSize(cell + QSize(CellSpacing, CellSpacing));
    // The view caches the one item size of a uniform list: make it measure again.
    emit m_model->layoutAboutToBeChanged();
    emit m_model->layoutChanged();
}

TImageList* SmallImagesOf(const TListView& view) {
    return view.m_smallImages;
}

TImageList* LargeImagesOf(const TListView& view) {
    return view.m_largeImages;
}
