#include "tests/fill/fill_fixture.h"
#include "tests/support/controls.h"

#include <filesystem>

namespace {

namespace fs = std::filesystem;

using ForegroundFillTest = test::FillTest;

TEST_F(ForegroundFillTest, FillsOneItemPerPictureInListOrder) {
    AddPicture("b.jpg", 1);
    AddPicture("A.bmp", 0);
    AddPicture("c.JPEG", 2);
    AddPicture("notes.txt", 3);
    test::Click(Form().Button1);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"A.BMP", "B.JPG", "C.JPEG"}));
    EXPECT_EQ(ImageIndices(), (std::vector<int>{0, 1, 2}));
    ASSERT_EQ(ImageCount(), 3);
    for (int k = 0; k < 3; ++k)
        EXPECT_TRUE(Near(ImageCentre(k), Colour(k))) << "item " << k;
    EXPECT_TRUE(test::ShownMessages().empty());
}

TEST_F(ForegroundFillTest, SkipsWhatIsNoLoadablePicture) {
    AddPicture("a.bmp", 0);
    fs::create_directories("DATA/folder.jpg");
    test::WriteFile("DATA/empty.jpg", "");
    test::WriteFile("DATA/one.jpg", "x");
    fs::create_symlink("missing.bmp", "DATA/gone.bmp"); // as a file removed since the scan
    AddPicture("z.bmp", 1);
    test::Click(Form().Button1);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"A.BMP", "Z.BMP"}));
    EXPECT_EQ(ImageIndices(), (std::vector<int>{0, 1}));
    EXPECT_TRUE(test::ShownMessages().empty());
}

TEST_F(ForegroundFillTest, AFileThatFailsEndsTheFillAndIsShown) {
    AddPicture("a.bmp", 0);
    test::WriteFile("DATA/b.bmp", "BM but not a bitmap");
    AddPicture("c.bmp", 2);
    test::Click(Form().Button1);
    EXPECT_EQ(Captions(), std::vector<std::string>{"A.BMP"});
    EXPECT_EQ(ImageCount(), 1);
    ASSERT_EQ(test::ShownMessages().size(), 1U);
    EXPECT_NE(test::ShownMessages()[0].find(".\\DATA\\B.BMP"), std::string::npos);
}

TEST_F(ForegroundFillTest, AMissingDataFolderEmptiesTheGallery) {
    AddPicture("a.bmp", 0);
    test::Click(Form().Button1);
    fs::remove_all("DATA");
    test::Click(Form().Button1);
    EXPECT_TRUE(Captions().empty());
    EXPECT_EQ(ImageCount(), 0);
    EXPECT_TRUE(test::ShownMessages().empty());
}

} // namespace
