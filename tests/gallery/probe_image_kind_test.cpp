#include "tests/support/app_fixture.h"

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;

struct ProbeCase {
    const char* name;
    const char* path;                    // as the program writes it
    std::optional<std::string> contents; // of the file DATA/<file>; none: no file
    const char* file;
    int expected;
};

void PrintTo(const ProbeCase& probeCase, std::ostream* os) {
    *os << probeCase.name;
}

class ProbeTest : public test::FormTest, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeTest, GivesTheImageKind) {
    fs::create_directory("DATA");
    if (GetParam().contents)
        test::WriteFile(fs::path("DATA") / GetParam().file, *GetParam().contents);
    EXPECT_EQ(Form().ProbeImageKind(GetParam().path), GetParam().expected);
}

const std::string JpegStart = "\xFF\xD8\xFF\xE0";

INSTANTIATE_TEST_SUITE_P(
    Paths, ProbeTest,
    ::testing::Values(
        ProbeCase{"BmpIsABitmapWithoutLookingInside", ".\\DATA\\X.BMP", "not read", "X.BMP", 0},
        ProbeCase{"BmpWithoutAFileIsSkipped", ".\\DATA\\X.BMP", std::nullopt, "X.BMP", -1},
        ProbeCase{"LowerCaseMarkersAreNotSeen", ".\\DATA\\x.bmp", "BM", "x.bmp", -1},
        ProbeCase{"BmpAnywhereInTheNameWins", ".\\DATA\\A.BMP.JPG", JpegStart, "A.BMP.JPG", 0},
        ProbeCase{"JpgStartingWithBMIsABitmap", ".\\DATA\\PIC.JPG", "BM rest", "PIC.JPG", 0},
        ProbeCase{"JpgStartingWithbmIsABitmap", ".\\DATA\\PIC.JPG", "bm rest", "PIC.JPG", 0},
        ProbeCase{"JpgStartingWithBmIsABitmap", ".\\DATA\\PIC.JPG", "Bm", "PIC.JPG", 0},
        ProbeCase{"JpgWithTheJpegSignatureIsAJpeg", ".\\DATA\\PIC.JPG", JpegStart, "PIC.JPG", 1},
        ProbeCase{"JpgWithAnyOtherStartIsAJpeg", ".\\DATA\\PIC.JPG", "GIF89a", "PIC.JPG", 1},
        ProbeCase{"JpegIsReadLikeJpg", ".\\DATA\\PIC.JPEG", "BM", "PIC.JPEG", 0},
        ProbeCase{"AnEmptyJpgIsSkipped", ".\\DATA\\E.JPG", "", "E.JPG", -1},
        ProbeCase{"AOneByteJpgIsSkipped", ".\\DATA\\E.JPG", "B", "E.JPG", -1},
        ProbeCase{"TheFileIsFoundWhateverItsCase", ".\\DATA\\LOWER.JPG", JpegStart, "lower.jpg", 1},
        ProbeCase{"OtherNamesAreSkipped", ".\\DATA\\NOTE.TXT", "BM", "NOTE.TXT", -1}),
    test::RowName());

TEST_F(ProbeTest, AFolderNamedLikeAPictureIsSkipped) {
    fs::create_directories("DATA/DIR.JPG");
    EXPECT_EQ(Form().ProbeImageKind(".\\DATA\\DIR.JPG"), -1);
}

TEST_F(ProbeTest, AFifoNamedLikeAPictureIsSkippedWithoutBlocking) {
    fs::create_directory("DATA");
    ASSERT_EQ(mkfifo("DATA/PIPE.JPG", 0600), 0);
    EXPECT_EQ(Form().ProbeImageKind(".\\DATA\\PIPE.JPG"), -1);
}

} // namespace
