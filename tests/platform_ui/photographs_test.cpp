// Photographs as cameras and phones store them: turned by an EXIF orientation, in the colours of an
// embedded ICC profile. The fixtures are made here: JPEG files with libjpeg, their APP segments
// and the BMP headers byte by byte, the profiles with LittleCMS.

#include "platform/ui/graphics.h"
#include "platform/ui/jpeg_image.h"
#include "tests/support/test_support.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <lcms2.h>

namespace {

using Bytes = std::string;
using test::Rgb;

// --- Fixtures ---

struct TSegment {
    int marker; // JPEG_APP0 + n
    Bytes payload;
};

void WriteJpeg(const char* path, int width, int height, const std::function<Rgb(int, int)>& pixel,
               const std::vector<TSegment>& segments) {
    const std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "wb"), std::fclose);
    ASSERT_NE(file, nullptr);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_CreateCompress(&cinfo, JPEG_LIB_VERSION, sizeof cinfo);
    jpeg_stdio_dest(&cinfo, file.get());
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    // Full-resolution chroma, so that a marker's colour reaches the edge of its block.
    for (int i = 0; i < 3; ++i)
        cinfo.comp_info[i].h_samp_factor = cinfo.comp_info[i].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    for (const TSegment& segment : segments)
        jpeg_write_marker(&cinfo, segment.marker,
                          reinterpret_cast<const JOCTET*>(segment.payload.data()),
                          static_cast<unsigned>(segment.payload.size()));
    std::vector<JSAMPLE> line(static_cast<std::size_t>(width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        for (int x = 0; x < width; ++x) {
            const Rgb colour = pixel(x, y);
            line[static_cast<std::size_t>(x) * 3] = colour.r;
            line[static_cast<std::size_t>(x) * 3 + 1] = colour.g;
            line[static_cast<std::size_t>(x) * 3 + 2] = colour.b;
        }
        JSAMPROW rows[] = {line.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
}

void Put16(Bytes& bytes, unsigned value, bool bigEndian) {
    const char a = static_cast<char>(value & 0xFF);
    const char b = static_cast<char>((value >> 8) & 0xFF);
    bytes += bigEndian ? Bytes{b, a} : Bytes{a, b};
}

void Put32(Bytes& bytes, unsigned value, bool bigEndian) {
    Put16(bytes, bigEndian ? value >> 16 : value & 0xFFFF, bigEndian);
    Put16(bytes, bigEndian ? value & 0xFFFF : value >> 16, bigEndian);
}

// An EXIF payload whose first IFD holds one entry, the Orientation unless told otherwise.
struct TExif {
    unsigned value = 1;
    bool bigEndian = false;
    unsigned ifdOffset = 8;
    unsigned entryCount = 1;
    unsigned tag = 0x0112;
    unsigned nextIfd = 0;
    std::size_t cutTo = Bytes::npos;
};

TSegment Exif(const TExif& exif) {
    Bytes bytes("Exif\0\0", 6);
    bytes += exif.bigEndian ? "MM" : "II";
    Put16(bytes, 42, exif.bigEndian);
    Put32(bytes, exif.ifdOffset, exif.bigEndian);
    Put16(bytes, exif.entryCount, exif.bigEndian);
    Put16(bytes, exif.tag, exif.bigEndian);
    Put16(bytes, 3, exif.bigEndian); // SHORT
    Put32(bytes, 1, exif.bigEndian);
    Put16(bytes, exif.value, exif.bigEndian);
    Put16(bytes, 0, exif.bigEndian);
    Put32(bytes, exif.nextIfd, exif.bigEndian);
    return {JPEG_APP0 + 1, bytes.substr(0, exif.cutTo)};
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

TSegment IccChunk(int sequence, int count, const Bytes& bytes) {
    Bytes payload("ICC_PROFILE\0", 12);
    payload += static_cast<char>(sequence);
    payload += static_cast<char>(count);
    return {JPEG_APP0 + 2, payload + bytes};
}

// The profile in count chunks, in the order of their sequence numbers.
std::vector<TSegment> IccChunks(const Bytes& profile, int count) {
    std::vector<TSegment> chunks;
    chunks.reserve(static_cast<std::size_t>(count));
    const std::size_t step = (profile.size() + count - 1) / count;
    for (int i = 0; i < count; ++i)
        chunks.push_back(IccChunk(i + 1, count, profile.substr(i * step, step)));
    return chunks;
}

// A 24-bit BMP with a V5 header whose colour space is csType; an embedded profile is written at
// profileAt bytes from the start of the info header, before the pixels or after them.
struct TBmpV5 {
    const char* csType = "MBED";
    Bytes profile;
    bool profileFirst = false;
    unsigned profileAtOverride = 0;
};

void WriteBmpV5(const char* path, int width, int height, Rgb colour, const TBmpV5& v5) {
    const unsigned rowBytes = (static_cast<unsigned>(width) * 3 + 3) / 4 * 4;
    const unsigned pixelBytes = rowBytes * static_cast<unsigned>(height);
    const unsigned headers = 14 + 124;
    const auto profileSize = static_cast<unsigned>(v5.profile.size());
    const unsigned pixelsAt = headers + (v5.profileFirst ? profileSize : 0);
    const unsigned profileAt = v5.profileAtOverride != 0 ? v5.profileAtOverride
                               : v5.profileFirst         ? 124
                                                         : pixelsAt + pixelBytes - 14;
    Bytes bytes = "BM";
    Put32(bytes, pixelsAt + pixelBytes + (v5.profileFirst ? 0 : profileSize), false);
    Put32(bytes, 0, false);
    Put32(bytes, pixelsAt, false);
    Put32(bytes, 124, false);
    Put32(bytes, static_cast<unsigned>(width), false);
    Put32(bytes, static_cast<unsigned>(height), false);
    Put16(bytes, 1, false);
    Put16(bytes, 24, false);
    for (int i = 0; i < 10; ++i) // compression to the alpha mask: none, no masks
        Put32(bytes, 0, false);
    bytes += Bytes(v5.csType, 4).substr(0, 4);
    std::reverse(bytes.end() - 4, bytes.end()); // stored as a little-endian number
    bytes += Bytes(36 + 12 + 4, '\0');          // endpoints, gammas, intent
    Put32(bytes, profileAt, false);
    Put32(bytes, profileSize, false);
    Put32(bytes, 0, false);
    if (v5.profileFirst)
        bytes += v5.profile;
    Bytes row(rowBytes, '\0');
    for (int x = 0; x < width; ++x) {
        row[static_cast<std::size_t>(x) * 3] = static_cast<char>(colour.b);
        row[static_cast<std::size_t>(x) * 3 + 1] = static_cast<char>(colour.g);
        row[static_cast<std::size_t>(x) * 3 + 2] = static_cast<char>(colour.r);
    }
    for (int y = 0; y < height; ++y)
        bytes += row;
    if (!v5.profileFirst)
        bytes += v5.profile;
    test::WriteFile(path, bytes);
}

// --- What the gallery sees ---

Rgb PixelOf(TBitmap& bitmap, int x, int y) {
    const TColor colour = bitmap.Canvas()->Pixel(x, y);
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
              {Exif({.value = row.orientation, .bigEndian = row.bigEndian})});
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
        "photo.jpg", 32, 32, [&](int, int) { return row.stored; }, IccChunks(row.profile(), 1));
    const std::unique_ptr<TBitmap> source = LoadJpeg("photo.jpg");
    EXPECT_LE(Distance(PixelOf(*Thumbnail(*source, 10, 11), 5, 5), row.srgb), 2);
}

TEST_P(Profile, BmpV5ColourBecomesItsSrgbValue) {
    const ProfileRow& row = GetParam();
    for (bool profileFirst : {false, true}) {
        WriteBmpV5("photo.bmp", 8, 8, row.stored,
                   {.profile = row.profile(), .profileFirst = profileFirst});
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
    std::vector<TSegment> chunks = IccChunks(AdobeRgb(), 3);
    std::swap(chunks[0], chunks[2]);
    std::swap(chunks[1], chunks[2]);
    WriteJpeg("chunks.jpg", 48, 48, Gradient, chunks);
    WriteJpeg("whole.jpg", 48, 48, Gradient, IccChunks(AdobeRgb(), 1));
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
        IccChunks(AdobeRgb(), 1));
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
        WriteJpeg("photo.jpg", Side, Side, pixel, IccChunks(*profile, 1));
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
                        return Chunks({Exif({.value = 6, .ifdOffset = 900})});
                    }},
        AsStoredRow{"ExifEntryCountOverflows",
                    [] {
                        return Chunks({Exif({.value = 6, .entryCount = 0xFFFF})});
                    }},
        AsStoredRow{"ExifTruncatedInTheEntry",
                    [] {
                        return Chunks({Exif({.value = 6, .cutTo = 22})});
                    }},
        AsStoredRow{"ExifIfdChainLoops",
                    [] {
                        return Chunks({Exif({.value = 6, .tag = 0x0110, .nextIfd = 8})});
                    }},
        AsStoredRow{"ExifOrientationZero",
                    [] {
                        return Chunks({Exif({.value = 0})});
                    }},
        AsStoredRow{"ExifOrientationNine",
                    [] {
                        return Chunks({Exif({.value = 9})});
                    }},
        AsStoredRow{"ExifBadByteOrder",
                    [] {
                        TSegment exif = Exif({.value = 6});
                        exif.payload[6] = 'X';
                        return Chunks({exif});
                    }},
        AsStoredRow{"IccChunkMissing",
                    [] {
                        std::vector<TSegment> chunks = IccChunks(AdobeRgb(), 3);
                        chunks.erase(chunks.begin() + 1);
                        return chunks;
                    }},
        AsStoredRow{"IccChunkRepeated",
                    [] {
                        std::vector<TSegment> chunks = IccChunks(AdobeRgb(), 2);
                        chunks.push_back(chunks[0]);
                        return chunks;
                    }},
        AsStoredRow{"IccChunkCountsDisagree",
                    [] {
                        std::vector<TSegment> chunks = IccChunks(AdobeRgb(), 2);
                        chunks[1].payload[13] = 3;
                        return chunks;
                    }},
        AsStoredRow{"IccProfileRejected",
                    [] {
                        return Chunks({IccChunk(1, 1, Bytes(600, 'x'))});
                    }},
        AsStoredRow{"IccProfileTruncated",
                    [] {
                        return Chunks({IccChunk(1, 1, AdobeRgb().substr(0, 200))});
                    }},
        AsStoredRow{"IccProfileOfAnotherSpace",
                    [] {
                        return Chunks({IccChunk(1, 1, SaveProfile(cmsCreateLab4Profile(nullptr)))});
                    }},
        AsStoredRow{"IccSrgb",
                    [] {
                        return IccChunks(Srgb(), 1);
                    }}),
    test::RowName{});

struct BmpAsStoredRow {
    const char* name;
    TBmpV5 v5;
};

void PrintTo(const BmpAsStoredRow& row, std::ostream* os) {
    *os << row.name;
}

class BmpAsStored : public test::TempCurrentDir,
                    public ::testing::WithParamInterface<BmpAsStoredRow> {};

TEST_P(BmpAsStored, ShowsAsStored) {
    test::WriteFile("adobe.icc", AdobeRgb());
    WriteBmpV5("photo.bmp", 8, 8, {120, 160, 90}, GetParam().v5);
    const std::unique_ptr<TBitmap> photo = LoadBmp("photo.bmp");
    EXPECT_EQ(PixelOf(*Thumbnail(*photo, 4, 4), 2, 2), (Rgb{120, 160, 90}));
}

INSTANTIATE_TEST_SUITE_P(
    Photographs, BmpAsStored,
    ::testing::Values(
        // A linked profile names a file, here one that exists: it must not be opened.
        BmpAsStoredRow{"Linked", {.csType = "LINK", .profile = Bytes("adobe.icc\0", 10)}},
        BmpAsStoredRow{"SrgbColourSpace", {.csType = "sRGB", .profile = AdobeRgb()}},
        BmpAsStoredRow{"WindowsColourSpace", {.csType = "Win ", .profile = AdobeRgb()}},
        BmpAsStoredRow{"ProfilePastTheFile",
                       {.profile = AdobeRgb(), .profileAtOverride = 0x7FFFFFF0}},
        BmpAsStoredRow{"ProfileInsideTheHeaders",
                       {.profile = AdobeRgb(), .profileAtOverride = 40}}),
    test::RowName{});

} // namespace
