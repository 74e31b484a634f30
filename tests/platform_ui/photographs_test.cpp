// Photographs as cameras and phones store them: turned by an EXIF orientation, in the colours of an
// embedded ICC profile. The profiles are made here with LittleCMS.

#include "platform/ui/bitmap_p.h"
#include "platform/ui/graphics.h"
#include "platform/ui/jpeg_image.h"
#include "tests/support/picture_files.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <lcms2.h>

namespace {

using Bytes = std::string;
using test::Rgb;

// --- Fixtures ---

using TSegment = test::TJpegSegment;

// A photograph as a camera stores it, at full quality with full-resolution chroma, so that a
// marker's colour reaches the edge of its block.
void WriteJpeg(const char* path, int width, int height, const test::TPixelAt& pixel,
               std::vector<TSegment> segments) {
    test::WriteJpeg(path, width, height, pixel,
                    {.quality = 100, .fullChroma = true, .segments = std::move(segments)});
}

Bytes SaveProfile(cmsHPROFILE profile) {
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    Bytes bytes(size, '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

Bytes MakeRgbProfile(cmsCIExyYTRIPLE primaries, bool srgbCurve) {
    const cmsCIExyY d65{0.3127, 0.3290, 1.0};
    // sRGB's curve as the IEC standard gives it (Display P3 shares it), or Adobe RGB's 563/256.
    const cmsFloat64Number srgbParameters[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve = srgbCurve ? cmsBuildParametricToneCurve(nullptr, 4, srgbParameters)
                                    : cmsBuildGamma(nullptr, 563.0 / 256);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&d65, &primaries, curves);
    cmsFreeToneCurve(curve);
    return SaveProfile(profile);
}

const Bytes& AdobeRgb() {
    static const Bytes profile =
        MakeRgbProfile({{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}}, false);
    return profile;
}

const Bytes& DisplayP3() {
    static const Bytes profile =
        MakeRgbProfile({{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}}, true);
    return profile;
}

const Bytes& Srgb() {
    static const Bytes profile = SaveProfile(cmsCreate_sRGBProfile());
    return profile;
}

// An 8 by 8 BMP of one colour with a V5 header, whose colour space is an embedded profile unless
// v5 says otherwise.
void WriteBmpV5(const char* path, Rgb colour, test::TBmpFile v5) {
    v5.infoSize = 124;
    v5.width = 8;
    v5.height = 8;
    if (v5.colourSpace.empty())
        v5.colourSpace = "MBED";
    v5.pixels = test::Rgb24Rows(8, 8, [colour](int, int) { return colour; });
    v5.Write(path);
}

// --- What the gallery sees ---

Rgb PixelOf(TBitmap& bitmap, int x, int y) {
    const TColor colour = ColourAt(bitmap, x, y);
    return {static_cast<std::uint8_t>(colour & 0xFF), static_cast<std::uint8_t>(colour >> 8),
            static_cast<std::uint8_t>(colour >> 16)};
}

int Distance(Rgb a, Rgb b) {
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

std::unique_ptr<TBitmap> LoadJpeg(const char* path) {
    TJPEGImage jpeg;
    jpeg.LoadFromFile(path);
    auto bitmap = std::make_unique<TBitmap>();
    jpeg.DrawInto(bitmap.get());
    return bitmap;
}

std::unique_ptr<TBitmap> LoadBmp(const char* path) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->LoadFromFile(path);
    return bitmap;
}

// The whole source stretched over a width by height thumbnail, as the gallery draws one.
std::unique_ptr<TBitmap> Thumbnail(TBitmap& source, int width, int height) {
    auto thumbnail = std::make_unique<TBitmap>();
    thumbnail->SetPixelFormat(pf24bit);
    thumbnail->SetSize(width, height);
    thumbnail->Canvas()->CopyRect(Rect(0, 0, width, height), source.Canvas(),
                                  Rect(0, 0, source.Width(), source.Height()));
    return thumbnail;
}

std::vector<Rgb> AllPixels(TBitmap& bitmap) {
    std::vector<Rgb> pixels;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            pixels.push_back(PixelOf(bitmap, x, y));
    return pixels;
}

// --- Orientation ---

constexpr Rgb Grey{128, 128, 128};
constexpr Rgb Red{220, 30, 30};
constexpr Rgb Green{30, 200, 30};
constexpr int StoredWidth = 64;
constexpr int StoredHeight = 48;

// Red in the stored top-left corner, green in the stored top-right one, grey elsewhere: no two of
// the eight orientations put both where the others do.
Rgb Markers(int x, int y) {
    if (y < 16 && x < 16)
        return Red;
    if (y < 16 && x >= StoredWidth - 16)
        return Green;
    return Grey;
}

enum TCorner { TopLeft, TopRight, BottomLeft, BottomRight };

struct OrientationRow {
    const char* name;
    unsigned orientation;
    bool bigEndian;
    TCorner red;
    TCorner green;
};

void PrintTo(const OrientationRow& row, std::ostream* os) {
    *os << row.name;
}

class Orientation : public test::TempCurrentDir,
                    public ::testing::WithParamInterface<OrientationRow> {};

// Four pixels in from each corner of a bitmap.
Rgb CornerOf(TBitmap& bitmap, TCorner corner) {
    const int inset = 4;
    const bool right = corner == TopRight || corner == BottomRight;
    const bool bottom = corner == BottomLeft || corner == BottomRight;
    return PixelOf(bitmap, right ? bitmap.Width() - 1 - inset : inset,
                   bottom ? bitmap.Height() - 1 - inset : inset);
}

void ExpectCorners(TBitmap& bitmap, const OrientationRow& row, const char* what) {
    for (TCorner corner : {TopLeft, TopRight, BottomLeft, BottomRight}) {
        const Rgb expected = corner == row.red ? Red : corner == row.green ? Green : Grey;
        EXPECT_LE(Distance(CornerOf(bitmap, corner), expected), 24)
            << what << ", corner " << corner << ": "
            << ::testing::PrintToString(CornerOf(bitmap, corner));
    }
}

TEST_P(Orientation, MarkersLandInTheirUprightCorners) {
    const OrientationRow& row = GetParam();
    WriteJpeg("photo.jpg", StoredWidth, StoredHeight, Markers,
              {test::ExifSegment({.value = row.orientation, .bigEndian = row.bigEndian})});
    const bool turned = row.orientation >= 5;
    TJPEGImage jpeg;
    jpeg.LoadFromFile("photo.jpg");
    EXPECT_EQ(jpeg.Width(), turned ? StoredHeight : StoredWidth);
    EXPECT_EQ(jpeg.Height(), turned ? StoredWidth : StoredHeight);

    const std::unique_ptr<TBitmap> source = LoadJpeg("photo.jpg");
    ASSERT_EQ(source->Width(), jpeg.Width());
    ASSERT_EQ(source->Height(), jpeg.Height());
    // The thumbnail is made from the stored picture, turned once reduced; the source's own pixels,
    // read afterwards, are the whole picture turned.
    const std::unique_ptr<TBitmap> thumbnail = Thumbnail(*source, 40, 44);
    ExpectCorners(*thumbnail, row, "thumbnail");
    ExpectCorners(*source, row, "source");
}

INSTANTIATE_TEST_SUITE_P(
    Photographs, Orientation,
    ::testing::Values(OrientationRow{"AsStored", 1, false, TopLeft, TopRight},
                      OrientationRow{"Mirrored", 2, true, TopRight, TopLeft},
                      OrientationRow{"HalfTurn", 3, false, BottomRight, BottomLeft},
                      OrientationRow{"Flipped", 4, true, BottomLeft, BottomRight},
                      OrientationRow{"Transposed", 5, false, TopLeft, BottomLeft},
                      OrientationRow{"QuarterClockwise", 6, true, TopRight, BottomRight},
                      OrientationRow{"Transversed", 7, false, BottomRight, TopRight},
                      OrientationRow{"QuarterAnticlockwise", 8, true, BottomLeft, TopLeft}),
    test::RowName{});

// --- Colour profiles ---

struct ProfileRow {
    const char* name;
    const Bytes& (*profile)();
    Rgb stored;
    Rgb srgb; // worked out from the primaries and the curves, not by LittleCMS
};

void PrintTo(const ProfileRow& row, std::ostream* os) {
    *os << row.name;
}

class Profile : public test::TempCurrentDir, public ::testing::WithParamInterface<ProfileRow> {};

TEST_P(Profile, JpegColourBecomesItsSrgbValue) {
    const ProfileRow& row = GetParam();
    WriteJpeg(
        "photo.jpg", 32, 32, [&](int, int) { return row.stored; },
        test::IccSegments(row.profile(), 1));
    const std::unique_ptr<TBitmap> source = LoadJpeg("photo.jpg");
    EXPECT_LE(Distance(PixelOf(*Thumbnail(*source, 10, 11), 5, 5), row.srgb), 2);
}

TEST_P(Profile, BmpV5ColourBecomesItsSrgbValue) {
    const ProfileRow& row = GetParam();
    for (bool profileFirst : {false, true}) {
        WriteBmpV5("photo.bmp", row.stored,
                   {.profile = row.profile(), .profileBeforePixels = profileFirst});
        const std::unique_ptr<TBitmap> source = LoadBmp("photo.bmp");
        EXPECT_LE(Distance(PixelOf(*Thumbnail(*source, 4, 4), 2, 2), row.srgb), 2)
            << (profileFirst ? "profile before the pixels" : "profile after the pixels");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Photographs, Profile,
    ::testing::Values(ProfileRow{"AdobeRgb", AdobeRgb, {120, 160, 90}, {99, 161, 85}},
                      ProfileRow{"DisplayP3", DisplayP3, {200, 80, 60}, {216, 69, 50}}),
    test::RowName{});

// A smooth picture, so that a conversion shows everywhere.
Rgb Gradient(int x, int y) {
    return {static_cast<std::uint8_t>(x * 4), static_cast<std::uint8_t>(y * 4),
            static_cast<std::uint8_t>(200 - x - y)};
}

using Photographs = test::TempCurrentDir;

TEST_F(Photographs, ProfileInShuffledChunksConvertsLikeTheWholeOne) {
    std::vector<TSegment> chunks = test::IccSegments(AdobeRgb(), 3);
    std::swap(chunks[0], chunks[2]);
    std::swap(chunks[1], chunks[2]);
    WriteJpeg("chunks.jpg", 48, 48, Gradient, chunks);
    WriteJpeg("whole.jpg", 48, 48, Gradient, test::IccSegments(AdobeRgb(), 1));
    WriteJpeg("plain.jpg", 48, 48, Gradient, {});
    const std::vector<Rgb> whole = AllPixels(*Thumbnail(*LoadJpeg("whole.jpg"), 20, 22));
    EXPECT_EQ(AllPixels(*Thumbnail(*LoadJpeg("chunks.jpg"), 20, 22)), whole);
    EXPECT_NE(AllPixels(*Thumbnail(*LoadJpeg("plain.jpg"), 20, 22)), whole);
}

// A thumbnail's colours are the mean of the picture's colours in sRGB, as a viewer that converts
// the whole picture and then reduces it shows them. Columns of Adobe RGB (200, 60, 60) and
// (60, 170, 60) convert to (231, 57, 57) and (0, 172, 44); converting their mean instead would
// give (137, 116, 53).
TEST_F(Photographs, ColoursAreConvertedBeforeTheyAreAveraged) {
    WriteJpeg(
        "stripes.jpg", 40, 44,
        [](int x, int) {
            return x % 2 == 0 ? Rgb{200, 60, 60} : Rgb{60, 170, 60};
        },
        test::IccSegments(AdobeRgb(), 1));
    EXPECT_LE(
        Distance(PixelOf(*Thumbnail(*LoadJpeg("stripes.jpg"), 10, 11), 5, 5), Rgb{116, 115, 51}),
        3);
}

// Every pixel is LittleCMS's own conversion of its colour, whatever the thread converted before: a
// picture of a few colours over and over (found again) and many met once (converted), in turn
// with two profiles, its thumbnail of its own size showing the converted pixels as they are. Its
// rows are not a whole number of eight pixels, which vector look-ups take at a time.
TEST_F(Photographs, EveryColourConvertsAsLittleCmsConvertsIt) {
    const auto pixel = [](int x, int y) {
        return y % 2 == 0 ? Rgb{static_cast<std::uint8_t>(x % 4 * 60), 90, 30}
                          : Rgb{static_cast<std::uint8_t>(x * 3), static_cast<std::uint8_t>(y * 3),
                                static_cast<std::uint8_t>(x + y)};
    };
    constexpr int Side = 83;
    WriteJpeg("plain.jpg", Side, Side, pixel, {});
    const std::vector<Rgb> stored = AllPixels(*Thumbnail(*LoadJpeg("plain.jpg"), Side, Side));
    const auto convertedBy = [&](const Bytes& bytes) {
        cmsHPROFILE profile = cmsOpenProfileFromMem(bytes.data(), bytes.size());
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        cmsHTRANSFORM transform =
            cmsCreateTransform(profile, TYPE_RGB_8, srgb, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC,
                               cmsFLAGS_BLACKPOINTCOMPENSATION);
        std::vector<Rgb> converted(stored.size());
        cmsDoTransform(transform, stored.data(), converted.data(), stored.size());
        cmsDeleteTransform(transform);
        cmsCloseProfile(srgb);
        cmsCloseProfile(profile);
        return converted;
    };
    for (const Bytes* profile : {&AdobeRgb(), &DisplayP3(), &AdobeRgb()}) {
        WriteJpeg("photo.jpg", Side, Side, pixel, test::IccSegments(*profile, 1));
        EXPECT_EQ(AllPixels(*Thumbnail(*LoadJpeg("photo.jpg"), Side, Side)), convertedBy(*profile))
            << (profile == &AdobeRgb() ? "Adobe RGB" : "Display P3");
    }
}

// --- Metadata that changes nothing: the picture as stored, exactly today's pixels ---

struct AsStoredRow {
    const char* name;
    std::vector<TSegment> (*segments)();
};

void PrintTo(const AsStoredRow& row, std::ostream* os) {
    *os << row.name;
}

class AsStored : public test::TempCurrentDir, public ::testing::WithParamInterface<AsStoredRow> {};

TEST_P(AsStored, JpegShowsAsStored) {
    WriteJpeg("plain.jpg", StoredWidth, StoredHeight, Markers, {});
    WriteJpeg("photo.jpg", StoredWidth, StoredHeight, Markers, GetParam().segments());
    const std::unique_ptr<TBitmap> photo = LoadJpeg("photo.jpg");
    ASSERT_EQ(photo->Width(), StoredWidth);
    EXPECT_EQ(AllPixels(*Thumbnail(*photo, 40, 44)),
              AllPixels(*Thumbnail(*LoadJpeg("plain.jpg"), 40, 44)));
}

std::vector<TSegment> Chunks(std::vector<TSegment> chunks) {
    return chunks;
}

INSTANTIATE_TEST_SUITE_P(
    Photographs, AsStored,
    ::testing::Values(
        AsStoredRow{"ExifIfdPastSegment",
                    [] {
                        return Chunks({test::ExifSegment({.value = 6, .ifdOffset = 900})});
                    }},
        AsStoredRow{"ExifEntryCountOverflows",
                    [] {
                        return Chunks({test::ExifSegment({.value = 6, .entryCount = 0xFFFF})});
                    }},
        AsStoredRow{"ExifTruncatedInTheEntry",
                    [] {
                        return Chunks({test::ExifSegment({.value = 6, .cutTo = 22})});
                    }},
        AsStoredRow{"ExifIfdChainLoops",
                    [] {
                        return Chunks(
                            {test::ExifSegment({.value = 6, .tag = 0x0110, .nextIfd = 8})});
                    }},
        AsStoredRow{"ExifOrientationZero",
                    [] {
                        return Chunks({test::ExifSegment({.value = 0})});
                    }},
        AsStoredRow{"ExifOrientationNine",
                    [] {
                        return Chunks({test::ExifSegment({.value = 9})});
                    }},
        AsStoredRow{"ExifBadByteOrder",
                    [] {
                        TSegment exif = test::ExifSegment({.value = 6});
                        exif.payload[6] = 'X';
                        return Chunks({exif});
                    }},
        AsStoredRow{"IccChunkMissing",
                    [] {
                        std::vector<TSegment> chunks = test::IccSegments(AdobeRgb(), 3);
                        chunks.erase(chunks.begin() + 1);
                        return chunks;
                    }},
        AsStoredRow{"IccChunkRepeated",
                    [] {
                        std::vector<TSegment> chunks = test::IccSegments(AdobeRgb(), 2);
                        chunks.push_back(chunks[0]);
                        return chunks;
                    }},
        AsStoredRow{"IccChunkCountsDisagree",
                    [] {
                        std::vector<TSegment> chunks = test::IccSegments(AdobeRgb(), 2);
                        chunks[1].payload[13] = 3;
                        return chunks;
                    }},
        AsStoredRow{"IccProfileRejected",
                    [] {
                        return Chunks({test::IccSegment(1, 1, Bytes(600, 'x'))});
                    }},
        AsStoredRow{"IccProfileTruncated",
                    [] {
                        return Chunks({test::IccSegment(1, 1, AdobeRgb().substr(0, 200))});
                    }},
        AsStoredRow{"IccProfileOfAnotherSpace",
                    [] {
                        return Chunks(
                            {test::IccSegment(1, 1, SaveProfile(cmsCreateLab4Profile(nullptr)))});
                    }},
        AsStoredRow{"IccSrgb",
                    [] {
                        return test::IccSegments(Srgb(), 1);
                    }}),
    test::RowName{});

struct BmpAsStoredRow {
    const char* name;
    test::TBmpFile v5;
};

void PrintTo(const BmpAsStoredRow& row, std::ostream* os) {
    *os << row.name;
}

class BmpAsStored : public test::TempCurrentDir,
                    public ::testing::WithParamInterface<BmpAsStoredRow> {};

TEST_P(BmpAsStored, ShowsAsStored) {
    test::WriteFile("adobe.icc", AdobeRgb());
    WriteBmpV5("photo.bmp", {120, 160, 90}, GetParam().v5);
    const std::unique_ptr<TBitmap> photo = LoadBmp("photo.bmp");
    EXPECT_EQ(PixelOf(*Thumbnail(*photo, 4, 4), 2, 2), (Rgb{120, 160, 90}));
}

INSTANTIATE_TEST_SUITE_P(
    Photographs, BmpAsStored,
    ::testing::Values(
        // A linked profile names a file, here one that exists: it must not be opened.
        BmpAsStoredRow{"Linked", {.colourSpace = "LINK", .profile = Bytes("adobe.icc\0", 10)}},
        BmpAsStoredRow{"SrgbColourSpace", {.colourSpace = "sRGB", .profile = AdobeRgb()}},
        BmpAsStoredRow{"WindowsColourSpace", {.colourSpace = "Win ", .profile = AdobeRgb()}},
        BmpAsStoredRow{"ProfilePastTheFile", {.profile = AdobeRgb(), .profileOffset = 0x7FFFFFF0}},
        BmpAsStoredRow{"ProfileInsideTheHeaders", {.profile = AdobeRgb(), .profileOffset = 40}}),
    test::RowName{});

} // namespace
