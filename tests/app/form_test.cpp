// The form as each program builds it from its stored layout: the same source runs against both.

#include "tests/support/app_fixture.h"

namespace {

using FormLayoutTest = test::FormTest;

struct Bounds {
    int left;
    int top;
    int width;
    int height;
    friend bool operator==(const Bounds&, const Bounds&) = default;
};

void PrintTo(const Bounds& b, std::ostream* os) {
    *os << "(" << b.left << ", " << b.top << ", " << b.width << " x " << b.height << ")";
}

Bounds BoundsOf(const TControl* control) {
    return {control->Left(), control->Top(), control->Width(), control->Height()};
}

TEST_F(FormLayoutTest, TheStoredLayoutIsApplied) {
    EXPECT_EQ(Form().Caption(), "Form1");
    EXPECT_EQ(Form().ClientWidth(), 254);
    EXPECT_EQ(Form().ClientHeight(), 496);
    EXPECT_EQ(BoundsOf(Form().Button1), (Bounds{168, 16, 75, 25}));
    EXPECT_EQ(Form().Button1->Caption(), "Button1");
    EXPECT_EQ(Form().Button1->TabOrder(), 0);
    EXPECT_EQ(BoundsOf(Form().ListView1), (Bounds{8, 8, 145, 465}));
    EXPECT_EQ(Form().ListView1->TabOrder(), 1);
#if OMBREL_MT
    EXPECT_EQ(BoundsOf(Form().Button2), (Bounds{168, 56, 75, 25}));
    EXPECT_EQ(Form().Button2->Top() - Form().Button1->Top(), 40);
    EXPECT_EQ(Form().Button2->Caption(), "Button2");
    EXPECT_EQ(Form().Button2->TabOrder(), 2);
#else
    EXPECT_EQ(Form().FindComponent("Button2"), nullptr);
#endif
}

TEST_F(FormLayoutTest, TheComponentsAreOwnedByTheFormInStoredOrder) {
    std::vector<std::string> names;
    for (int i = 0; i < Form().ComponentCount(); ++i)
        names.push_back(Form().Components(i)->Name().str());
#if OMBREL_MT
    EXPECT_EQ(names, (std::vector<std::string>{"Button1", "ListView1", "Button2", "ImageList1"}));
#else
    EXPECT_EQ(names, (std::vector<std::string>{"Button1", "ListView1", "ImageList1"}));
#endif
}

TEST_F(FormLayoutTest, FormCreateLeftAnEmptyGalleryOfThumbnailSize) {
    EXPECT_EQ(Form().ImageList1->Width(), 100);
    EXPECT_EQ(Form().ImageList1->Height(), 110);
    EXPECT_EQ(Form().ListView1->SmallImages(), Form().ImageList1);
    EXPECT_EQ(Form().ListView1->LargeImages(), Form().ImageList1);
    EXPECT_EQ(Form().ListView1->Items()->Count(), 0);
    EXPECT_EQ(ImageCount(), 0);
}

TEST_F(FormLayoutTest, Button1RebuildsTheGallery) {
    std::filesystem::create_directory("DATA");
    test::WriteBmp("DATA/one.bmp", 8, 8, test::Rgb{255, 0, 0});
    Form().Button1->Click();
    Form().Button1->Click();
    EXPECT_EQ(Captions(), std::vector<std::string>{"ONE.BMP"});
    EXPECT_EQ(ImageCount(), 1);
}

} // namespace
