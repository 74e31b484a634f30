// The form as each program builds it from its stored layout: the same source runs against both.

#include "platform/ui/controls_p.h"
#include "tests/support/app_fixture.h"
#include "tests/support/controls.h"
#include "tests/support/picture_files.h"
#include "tests/support/stored_layout.h"

#include <filesystem>

namespace {

using FormLayoutTest = test::FormTest;
using test::layout::TBounds;

TBounds BoundsOf(const TControl* control) {
    return {control->Left(), control->Top(), control->Width(), control->Height()};
}

TEST_F(FormLayoutTest, TheStoredLayoutIsApplied) {
    EXPECT_EQ(CaptionOf(Form()), "Form1");
    EXPECT_EQ(Form().Width(), test::layout::Client.width);
    EXPECT_EQ(Form().Height(), test::layout::Client.height);
    EXPECT_EQ(BoundsOf(Form().Button1), test::layout::Button1);
    EXPECT_EQ(CaptionOf(*Form().Button1), "Button1");
    EXPECT_EQ(Form().Button1->TabOrder(), 0);
    EXPECT_EQ(BoundsOf(Form().ListView1), test::layout::ListView1);
    EXPECT_EQ(Form().ListView1->TabOrder(), 1);
#if OMBREL_MT
    EXPECT_EQ(BoundsOf(Form().Button2), test::layout::Button2);
    EXPECT_EQ(CaptionOf(*Form().Button2), "Button2");
    EXPECT_EQ(Form().Button2->TabOrder(), 2);
#else
    EXPECT_EQ(Form().FindComponent("Button2"), nullptr);
#endif
}

TEST_F(FormLayoutTest, TheComponentsAreOwnedByTheFormInStoredOrder) {
    std::vector<std::string> names;
    for (const TComponent* component : ComponentsOf(Form()))
        names.push_back(component->Name().str());
#if OMBREL_MT
    EXPECT_EQ(names, (std::vector<std::string>{"Button1", "ListView1", "Button2", "ImageList1"}));
#else
    EXPECT_EQ(names, (std::vector<std::string>{"Button1", "ListView1", "ImageList1"}));
#endif
}

TEST_F(FormLayoutTest, FormCreateLeftAnEmptyGalleryOfThumbnailSize) {
    EXPECT_EQ(Form().ImageList1->Width(), 100);
    EXPECT_EQ(Form().ImageList1->Height(), 110);
    EXPECT_EQ(SmallImagesOf(*Form().ListView1), Form().ImageList1);
    EXPECT_EQ(LargeImagesOf(*Form().ListView1), Form().ImageList1);
    EXPECT_EQ(Form().ListView1->Items()->Count(), 0);
    EXPECT_EQ(ImageCount(), 0);
}

// Each press starts the gallery afresh from what DATA holds then.
TEST_F(FormLayoutTest, Button1RebuildsTheGallery) {
    std::filesystem::create_directory("DATA");
    test::WriteBmp("DATA/a.bmp", 8, 8, test::Rgb{255, 0, 0});
    test::WriteBmp("DATA/b.bmp", 8, 8, test::Rgb{0, 255, 0});
    test::Click(Form().Button1);
    std::filesystem::remove("DATA/a.bmp");
    test::WriteJpeg("DATA/c.jpg", 8, 8, test::Rgb{0, 0, 255});
    test::Click(Form().Button1);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"B.BMP", "C.JPG"}));
    EXPECT_EQ(ImageIndices(), (std::vector<int>{0, 1}));
    EXPECT_EQ(ImageCount(), 2);
}

} // namespace
