#include "tests/support/app_fixture.h"

#include <memory>

namespace {

class GalleryViewTest : public test::FormTest {
protected:
    std::unique_ptr<TBitmap> Thumbnail(TColor colour) {
        auto thumbnail = std::unique_ptr<TBitmap>(Form().NewThumbBitmap(100, 110));
        thumbnail->Canvas()->Brush()->SetColor(colour);
        thumbnail->Canvas()->FillRect(Rect(0, 0, 100, 110));
        return thumbnail;
    }
};

TEST_F(GalleryViewTest, ItemsShowTheirImagesInTheOrderAdded) {
    const TColor colours[] = {0x0000FF, 0x00FF00, 0xFF0000};
    const char* captions[] = {"A.BMP", "B.JPG", "A.BMP"};
    for (int i = 0; i < 3; ++i) {
        auto thumbnail = Thumbnail(colours[i]);
        Form().AddGalleryItem(captions[i], thumbnail.get());
    } // each thumbnail is destroyed right after it was added
    EXPECT_EQ(Captions(), (std::vector<std::string>{"A.BMP", "B.JPG", "A.BMP"}));
    EXPECT_EQ(ImageIndices(), (std::vector<int>{0, 1, 2}));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ImageCentre(i), test::ToRgb(colours[i]));
}

TEST_F(GalleryViewTest, ANullThumbnailAddsNothing) {
    Form().AddGalleryItem("X.BMP", nullptr);
    EXPECT_TRUE(Captions().empty());
    EXPECT_EQ(ImageCount(), 0);
}

TEST_F(GalleryViewTest, AfterAClearIndicesStartAgainAtZero) {
    Form().ClearGallery(); // on an empty gallery: harmless
    auto thumbnail = Thumbnail(clSilver);
    Form().AddGalleryItem("A.BMP", thumbnail.get());
    Form().AddGalleryItem("B.BMP", thumbnail.get());
    Form().ClearGallery();
    EXPECT_EQ(ImageCount(), 0);
    EXPECT_TRUE(Captions().empty());
    Form().AddGalleryItem("C.BMP", thumbnail.get());
    EXPECT_EQ(Captions(), std::vector<std::string>{"C.BMP"});
    EXPECT_EQ(ImageIndices(), std::vector<int>{0});
}

} // namespace
