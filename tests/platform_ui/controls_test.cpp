#include "platform/ui/application.h"
#include "platform/ui/application_p.h"
#include "platform/ui/control_widget_p.h"
#include "platform/ui/controls_p.h"
#include "platform/ui/graphics.h"
#include "platform/ui/image_list.h"
#include "platform/ui/image_list_p.h"
#include "platform/ui/list_view.h"
#include "tests/support/test_support.h"

#include <QImage>
#include <QListView>
#include <QPixmap>

#include <chrono>
#include <memory>
#include <string>

namespace {

std::unique_ptr<TBitmap> SolidBitmap(int width, int height, TColor colour) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetSize(width, height);
    bitmap->Canvas()->Brush()->SetColor(colour);
    bitmap->Canvas()->FillRect(Rect(0, 0, width, height));
    return bitmap;
}

std::unique_ptr<TImageList> ThumbnailList(TComponent* owner) {
    auto images = std::make_unique<TImageList>(owner);
    images->SetName("ImageList1");
    images->SetWidth(100);
    images->SetHeight(110);
    return images;
}

void Pump() {
    ProcessMessages();
}

// Ownership

TEST(Components, OwnerDeletesLastMadeFirstAndForgetsComponentsDeletedElsewhere) {
    std::vector<std::string> deleted;
    struct TWitness : TComponent {
        TWitness(TComponent* owner, const std::string& name, std::vector<std::string>& log)
            : TComponent(owner), m_log(log) {
            SetName(AnsiString(name));
        }
        ~TWitness() override { m_log.push_back(Name().str()); }
        std::vector<std::string>& m_log;
    };
    {
        TComponent owner(nullptr);
        new TWitness(&owner, "first", deleted); // owned by owner from here
        auto* second = new TWitness(&owner, "second", deleted);
        new TWitness(&owner, "third", deleted);
        EXPECT_EQ(owner.FindComponent("SECOND"), second);
        delete second;
        EXPECT_EQ(static_cast<int>(ComponentsOf(owner).size()), 2);
        EXPECT_EQ(owner.FindComponent("second"), nullptr);
    }
    EXPECT_EQ(deleted, (std::vector<std::string>{"second", "third", "first"}));
}

// TImageList

TEST(ImageList, StoresItsOwnCopyAndCountsFromZero) {
    const auto images = ThumbnailList(nullptr);
    const auto red = SolidBitmap(100, 110, 0x0000FF);
    EXPECT_EQ(images->Add(red.get(), nullptr), 0);
    EXPECT_EQ(images->Add(SolidBitmap(100, 110, 0xFF0000).get(), nullptr), 1);
    red->Canvas()->Brush()->SetColor(clWhite);
    red->Canvas()->FillRect(Rect(0, 0, 100, 110));

    const std::vector<QImage>& stored = ImageStoreOf(*images).images;
    ASSERT_EQ(images->Count(), 2);
    EXPECT_EQ(stored[0].size(), QSize(100, 110));
    EXPECT_EQ(stored[0].pixel(50, 50), qRgb(255, 0, 0));
    EXPECT_EQ(stored[1].pixel(99, 109), qRgb(0, 0, 255));
}

TEST(ImageList, SizeChangeEmptiesTheListButTheSameSizeDoesNot) {
    const auto images = ThumbnailList(nullptr);
    images->Add(SolidBitmap(100, 110, clSilver).get(), nullptr);
    images->SetWidth(100);
    EXPECT_EQ(images->Count(), 1);
    images->SetHeight(100);
    EXPECT_EQ(images->Count(), 0);
    EXPECT_EQ(images->Add(SolidBitmap(100, 100, clSilver).get(), nullptr), 0);
}

struct RejectedImageRow {
    const char* name;
    int width;
    int height;
};

void PrintTo(const RejectedImageRow& row, std::ostream* os) {
    *os << row.name;
}

class RejectedImageTest : public ::testing::TestWithParam<RejectedImageRow> {};

TEST_P(RejectedImageTest, RaisesAndAddsNothing) {
    const auto images = ThumbnailList(nullptr);
    const auto bitmap =
        GetParam().width < 0 ? nullptr : SolidBitmap(GetParam().width, GetParam().height, clWhite);
    try {
        images->Add(bitmap.get(), nullptr);
        FAIL() << "no exception";
    } catch (const Exception& error) {
        EXPECT_NE(error.Message().str().find("ImageList1"), std::string::npos) << error.what();
    }
    EXPECT_EQ(images->Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, RejectedImageTest,
                         ::testing::Values(RejectedImageRow{"NullImage", -1, -1},
                                           RejectedImageRow{"Empty", 0, 0},
                                           RejectedImageRow{"WrongWidth", 101, 110},
                                           RejectedImageRow{"WrongHeight", 100, 109}),
                         [](const auto& row) { return std::string(row.param.name); });

// TListView

class ListViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_form = std::make_unique<TForm>(nullptr);
        WidgetOf(*m_form).widget->resize(254, 496);
        m_listView = new TListView(m_form.get()); // owned by the form
        m_listView->SetParent(m_form.get());
        m_listView->SetBounds(8, 8, 145, 465);
        m_images = new TImageList(m_form.get()); // owned by the form
        m_images->SetWidth(100);
        m_images->SetHeight(110);
        m_listView->SetLargeImages(m_images);
    }

    QListView& View() const {
        return *static_cast<QListView*>(WidgetOf(*m_listView).widget.data());
    }
    QVariant Data(int row, int role) const {
        return View().model()->data(View().model()->index(row, 0), role);
    }
    void AddItems(int count) {
        for (int index = 0; index < count; ++index) {
            TListItem* item = m_listView->Items()->Add();
            item->SetCaption(AnsiString("Item " + std::to_string(index)));
            item->SetImageIndex(index);
        }
    }

    std::unique_ptr<TForm> m_form;
    TListView* m_listView = nullptr;
    TImageList* m_images = nullptr;
};

TEST_F(ListViewTest, ItemKShowsImageKBeneathItsCaption) {
    const TColor colours[] = {0x0000FF, 0x00FF00, 0xFF0000};
    for (TColor colour : colours)
        m_images->Add(SolidBitmap(100, 110, colour).get(), nullptr);
    AddItems(3);

    ASSERT_EQ(View().model()->rowCount(), 3);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(CaptionOf(*ItemOf(*m_listView->Items(), k)).str(), "Item " + std::to_string(k));
        EXPECT_EQ(ImageIndexOf(*ItemOf(*m_listView->Items(), k)), k);
        EXPECT_EQ(Data(k, Qt::DisplayRole).toString().toStdString(), "Item " + std::to_string(k));
        const QImage image = Data(k, Qt::DecorationRole).value<QImage>();
        ASSERT_EQ(image.size(), QSize(100, 110));
        const QRgb expected =
            qRgb(static_cast<int>(colours[k] & 0xFF), static_cast<int>((colours[k] >> 8) & 0xFF),
                 static_cast<int>(colours[k] >> 16));
        EXPECT_EQ(image.pixel(50, 50), expected) << "item " << k;
    }
    m_listView->Items()->Clear();
    EXPECT_EQ(View().model()->rowCount(), 0);
    EXPECT_EQ(m_listView->Items()->Count(), 0);
}

TEST_F(ListViewTest, ThumbnailsRunDownOneColumnAndLongCaptionsStayInTheirCell) {
    for (int k = 0; k < 3; ++k)
        m_images->Add(SolidBitmap(100, 110, clSilver).get(), nullptr);
    AddItems(3);
    ItemOf(*m_listView->Items(), 1)->SetCaption(AnsiString(std::string(200, 'W')));
    m_form->Show();
    const auto model = View().model();
    ASSERT_TRUE(
        test::WaitUntil([&] { return View().visualRect(model->index(2, 0)).isValid(); }, Pump));
    const QRect first = View().visualRect(model->index(0, 0));
    const QRect second = View().visualRect(model->index(1, 0));
    EXPECT_EQ(first.left(), second.left());
    EXPECT_GE(second.top(), first.bottom());
    EXPECT_LE(second.width(), View().gridSize().width());
    m_form->Close();
}

TEST_F(ListViewTest, ImageIndexBeyondTheListShowsNoImageAndStillPaints) {
    m_images->Add(SolidBitmap(100, 110, clSilver).get(), nullptr);
    AddItems(2);
    EXPECT_TRUE(Data(0, Qt::DecorationRole).isValid());
    EXPECT_FALSE(Data(1, Qt::DecorationRole).isValid());

    m_images->Clear();
    EXPECT_FALSE(Data(0, Qt::DecorationRole).isValid());
    EXPECT_FALSE(View().grab().isNull());
}

TEST_F(ListViewTest, ImageListDeletedFirstLeavesNoDanglingReference) {
    m_listView->SetSmallImages(m_images);
    m_images->Add(SolidBitmap(100, 110, clSilver).get(), nullptr);
    AddItems(1);
    delete m_images;
    EXPECT_EQ(LargeImagesOf(*m_listView), nullptr);
    EXPECT_EQ(SmallImagesOf(*m_listView), nullptr);
    EXPECT_FALSE(Data(0, Qt::DecorationRole).isValid());
    EXPECT_FALSE(View().grab().isNull());
}

// A gallery of ten thousand pictures: every item arrives, the last as it was added, and adding them
// stays far from quadratic (a release build takes well under a second; the bound leaves room for
// the sanitizers' builds).
TEST_F(ListViewTest, TenThousandItemsArriveInOrderAndQuickly) {
    m_images->Add(SolidBitmap(100, 110, clSilver).get(), nullptr);
    m_form->Show();
    const auto start = std::chrono::steady_clock::now();
    for (int index = 0; index < 10000; ++index) {
        TListItem* item = m_listView->Items()->Add();
        item->SetCaption(AnsiString("PICTURE " + std::to_string(index) + ".JPG"));
        item->SetImageIndex(0);
        if (index % 100 == 99)
            Pump();
    }
    Pump();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ASSERT_EQ(View().model()->rowCount(), 10000);
    EXPECT_EQ(Data(9999, Qt::DisplayRole).toString().toStdString(), "PICTURE 9999.JPG");
    EXPECT_TRUE(Data(9999, Qt::DecorationRole).isValid());
    m_form->Close();
}

} // namespace
