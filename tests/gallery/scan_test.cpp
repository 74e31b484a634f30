#include "tests/support/app_fixture.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct ScanCase {
    const char* name;
    std::vector<std::string> files;   // made empty in DATA
    std::vector<std::string> folders; // made in DATA
    std::vector<std::string> expected;
};

void PrintTo(const ScanCase& scanCase, std::ostream* os) {
    *os << scanCase.name;
}

class ScanTest : public test::FormTest, public ::testing::WithParamInterface<ScanCase> {
protected:
    std::vector<std::string> Scan(bool sorted) {
        auto files = std::unique_ptr<TStringList>(Form().ListImageFiles(sorted));
        std::vector<std::string> paths;
        for (int i = 0; i < files->Count(); ++i)
            paths.push_back(files->Strings(i).str());
        return paths;
    }
};

TEST_P(ScanTest, ListsThePictureFilesUpperCasedAndSorted) {
    fs::create_directory("DATA");
    for (const std::string& file : GetParam().files)
        test::WriteFile(fs::path("DATA") / file, "x");
    for (const std::string& folder : GetParam().folders)
        fs::create_directory(fs::path("DATA") / folder);
    EXPECT_EQ(Scan(true), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ScanTest,
    ::testing::Values(
        ScanCase{"OnlyTheThreeExtensionsInAnyCase",
                 {"a.bmp", "B.Jpg", "c.jpeg", "d.png", "e.jpe", "README", "f.bmp.txt"},
                 {},
                 {".\\DATA\\A.BMP", ".\\DATA\\B.JPG", ".\\DATA\\C.JPEG"}},
        ScanCase{"TheLastDotDecides",
                 {"x.y.jpg", "x.jpg.tmp", "noext", "jpg"},
                 {},
                 {".\\DATA\\X.Y.JPG"}},
        ScanCase{"HiddenFilesAreListed", {".hidden.bmp"}, {}, {".\\DATA\\.HIDDEN.BMP"}},
        ScanCase{"AFolderNamedLikeAPictureIsListed", {}, {"pics.jpg"}, {".\\DATA\\PICS.JPG"}},
        ScanCase{"SortIgnoresTheNamesLetterCase",
                 {"b.jpg", "A.jpg", "c.BMP", "a_.bmp"},
                 {},
                 {".\\DATA\\A.JPG", ".\\DATA\\A_.BMP", ".\\DATA\\B.JPG", ".\\DATA\\C.BMP"}},
        ScanCase{"UnicodeNamesAreUpperCased",
                 {"café.jpg", "straße.jpg"},
                 {},
                 {".\\DATA\\CAFÉ.JPG", ".\\DATA\\STRASSE.JPG"}},
        ScanCase{"NamesWithSpacesAndQuotes",
                 {"Photo 1.jpg", "it's \"here\".bmp"},
                 {},
                 {".\\DATA\\IT'S \"HERE\".BMP", ".\\DATA\\PHOTO 1.JPG"}},
        ScanCase{"AnEmptyFolderGivesNothing", {}, {}, {}}),
    test::RowName());

TEST_F(ScanTest, AMissingDataFolderGivesAnEmptyList) {
    EXPECT_TRUE(Scan(true).empty());
}

TEST_F(ScanTest, DataBeingAFileGivesAnEmptyList) {
    test::WriteFile("DATA", "not a folder");
    EXPECT_TRUE(Scan(true).empty());
}

TEST_F(ScanTest, UnsortedKeepsEveryEntryOnce) {
    fs::create_directory("DATA");
    for (const char* name : {"c.jpg", "a.jpg", "b.jpg"})
        test::WriteFile(fs::path("DATA") / name, "x");
    std::vector<std::string> unsorted = Scan(false);
    std::sort(unsorted.begin(), unsorted.end());
    EXPECT_EQ(unsorted, Scan(true));
}

} // namespace
