#include "platform/ui/jpeg_image.h"

#include "platform/core/exception.h"
#include "platform/ui/bitmap_p.h"
#include "platform/ui/graphics.h"
#include "tests/support/picture_files.h"

#include <QFile>
#include <QImage>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

struct TDecoded {
    std::unique_ptr<TBitmap> bitmap = std::make_unique<TBitmap>();
    const QImage& Image() const { return PixelsOf(*bitmap).image; }
};

TDecoded Decode(const std::string& path, TJPEGScale scale = jsFullSize) {
    TJPEGImage jpeg;
    jpeg.LoadFromFile(path.c_str());
    jpeg.SetScale(scale);
    TDecoded result;
    jpeg.DrawInto(result.bitmap.get());
    static_cast<void>(result.Image()); // the pixels are decoded when they are first used
    return result;
}

test::Rgb PixelAt(const QImage& image, int x, int y) {
    const uchar* p = image.constScanLine(y) + 3 * x;
    return {p[0], p[1], p[2]};
}

void ExpectMentions(const EInvalidGraphic& error, const std::string& text) {
    EXPECT_NE(std::string(error.what()).find(text), std::string::npos) << error.what();
}

int Distance(test::Rgb a, test::Rgb b) {
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

// Every table's rows are named, after the file or the edge they cover.
template <typename Row>
requires requires(const Row& row) {
    row.name;
}
std::ostream& operator<<(std::ostream& os, const Row& row) {
    return os << row.name;
}

template <typename Row> std::string RowName(const ::testing::TestParamInfo<Row>& entry) {
    std::string name = entry.param.name;
    name.resize(std::min(name.find('.'), name.starts_with("its-") ? 12 : name.size()));
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

// --- The conformance pictures ---

struct GoodFile {
    const char* name;
    int width;
    int height;
};

class JpegGoodFile : public test::TempCurrentDir, public ::testing::WithParamInterface<GoodFile> {};

// The file without its ICC profile segments (APP2), as the references were rendered: ycck.jpg's
// CMYK profile moves its colours by up to 70 levels from a plain conversion of its inks.
std::string WithoutProfile(const std::filesystem::path& path) {
    QFile file(QString::fromStdString(path.string()));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QByteArray kept = bytes.left(2);
    qsizetype at = 2;
    // Segments up to the start of scan each carry their length after the marker.
    while (at + 4 <= bytes.size() && static_cast<uchar>(bytes[at + 1]) != 0xDA) {
        const qsizetype length =
            2 + (static_cast<uchar>(bytes[at + 2]) << 8 | static_cast<uchar>(bytes[at + 3]));
        if (static_cast<uchar>(bytes[at + 1]) != 0xE2)
            kept += bytes.mid(at, length);
        at += length;
    }
    kept += bytes.mid(at);
    test::WriteFile("stripped.jpg",
                    std::string(kept.constData(), static_cast<std::size_t>(kept.size())));
    return "stripped.jpg";
}

// The references come from decoders of the same family (libjpeg-turbo itself for testorig and
// testimg*, and renderers built on it), so only colour-conversion rounding may differ: measured at
// most 3 levels (ycck) and a mean well under one level.
TEST_P(JpegGoodFile, DecodesLikeItsReferenceAndAtAnEighth) {
    const auto path = test::TestData(std::string("jpeg/good/") + GetParam().name);
    if (!path)
        return;
    const TDecoded decoded = Decode(WithoutProfile(*path));
    const QImage& image = decoded.Image();
    ASSERT_EQ(image.width(), GetParam().width);
    ASSERT_EQ(image.height(), GetParam().height);

    // libjpeg-turbo's own renderings carry ".djpeg" in their name.
    const std::string stem = path->stem().string();
    std::filesystem::path refPath = *test::TestData("jpeg/ref/" + stem + ".png");
    if (!std::filesystem::exists(refPath))
        refPath = *test::TestData("jpeg/ref/" + stem + ".djpeg.png");
    const QImage ref =
        QImage(QString::fromStdString(refPath.string())).convertToFormat(QImage::Format_RGB888);
    ASSERT_EQ(ref.size(), image.size());
    long long total = 0;
    int worst = 0;
    for (int y = 0; y < ref.height(); ++y)
        for (int x = 0; x < ref.width() * 3; ++x) {
            const int d = std::abs(ref.constScanLine(y)[x] - image.constScanLine(y)[x]);
            total += d;
            worst = std::max(worst, d);
        }
    EXPECT_LE(worst, 8);
    EXPECT_LE(static_cast<double>(total) / (ref.width() * ref.height() * 3), 1.0);

    const TDecoded eighth = Decode(path->string(), jsEighth);
    EXPECT_EQ(eighth.Image().width(), (GetParam().width + 7) / 8);
    EXPECT_EQ(eighth.Image().height(), (GetParam().height + 7) / 8);
}

INSTANTIATE_TEST_SUITE_P(
    Jpeg, JpegGoodFile,
    ::testing::Values(GoodFile{"testorig.jpg", 227, 149}, GoodFile{"testimgint.jpg", 227, 149},
                      GoodFile{"testimgari.jpg", 227, 149}, GoodFile{"jpg-progressive.jpg", 32, 32},
                      GoodFile{"progressive3.jpg", 650, 470},
                      GoodFile{"non-interleaved-mcu.jpg", 64, 16}, GoodFile{"jpg-gray.jpg", 32, 32},
                      GoodFile{"grayscale_24x16_sampling2x2.jpg", 24, 16},
                      GoodFile{"grayscale_long.jpg", 1, 1000}, GoodFile{"jpg-cmyk-1.jpg", 32, 32},
                      GoodFile{"jpg-cmyk-2.jpg", 256, 256}, GoodFile{"ycck.jpg", 500, 333},
                      GoodFile{"rgb.jpg", 500, 333}, GoodFile{"jpg-size-1x1.jpg", 1, 1},
                      GoodFile{"jpg-size-15x15.jpg", 15, 15},
                      GoodFile{"jpg-size-17x17.jpg", 17, 17}, GoodFile{"jpg-srgb-icc.jpg", 1, 1},
                      GoodFile{"restarts.jpg", 33, 33}, GoodFile{"16bit-qtables.jpg", 1, 1}),
    RowName<GoodFile>);

struct BadFile {
    const char* name;
    // Part of the reason that an error must give; empty when libjpeg's wording may vary.
    const char* cause;
    // The picture's size for a file that libjpeg only warns about; such a file may also fail.
    int warnWidth = 0;
    int warnHeight = 0;
};

class JpegBadFile : public ::testing::TestWithParam<BadFile> {};

TEST_P(JpegBadFile, FailsCleanlyAndQuicklyOrWarns) {
    const BadFile& row = GetParam();
    const auto path = test::TestData(std::string("jpeg/bad/") + row.name);
    if (!path)
        return;
    const auto start = std::chrono::steady_clock::now();
    try {
        const TDecoded decoded = Decode(path->string());
        EXPECT_GT(row.warnWidth, 0) << "decoded a file that must fail";
        EXPECT_EQ(decoded.Image().width(), row.warnWidth);
        EXPECT_EQ(decoded.Image().height(), row.warnHeight);
    } catch (const EInvalidGraphic& error) {
        ExpectMentions(error, path->string());
        ExpectMentions(error, row.cause);
    }
    // A hang guard: an unguarded decoder spends tens of seconds on the lying header.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

INSTANTIATE_TEST_SUITE_P(
    Jpeg, JpegBadFile,
    ::testing::Values(BadFile{"empty.jpg", "Empty input file"},
                      BadFile{"missing-frame-image-1410.jpg", ""}, BadFile{"missing-sof.jpg", ""},
                      BadFile{"missing-sos.jpg", ""}, BadFile{"null_height.jpg", ""},
                      BadFile{"invalid-dimensions.jpg", ""}, BadFile{"max_size.jpg", ""},
                      BadFile{"derive-huffman-codes-overflow.jpg", ""},
                      BadFile{"jpg-size-6x6.jpg", "Not a JPEG file"},
                      BadFile{"monkey12.jpg", "Unsupported JPEG data precision 12"},
                      BadFile{"jpeg_lossless_sel1.jpg", "Unsupported JPEG process"},
                      BadFile{"its-f012a4321f00f12af6b1eee7580ffb9c.jpg", ""},
                      BadFile{"its-4085c929e00c446d3fee18b5b20a27f9.jpg", ""},
                      BadFile{"its-ef724193653930f52acffa90e6426fd2.jpg", ""},
                      BadFile{"its-6903d4538fd33c8fd0ded32cb30d618e.jpg", "49157 by 27397"},
                      BadFile{"dc-predictor-overflow.jpg", "", 144, 144},
                      BadFile{"extraneous-data.jpg", "", 16, 16},
                      BadFile{"partial_progressive.jpg", "", 4, 4},
                      BadFile{"progressive-missing-dc.jpg", "", 8, 8},
                      BadFile{"its-194531363df5b73f59c4c0517422f917.jpg", "", 193, 31423},
                      BadFile{"its-c3018ebe53d0046eecb58858ca869a99.jpg", "", 325, 407},
                      BadFile{"its-32d08f4a5eb10332506ebedbb9bc7257.jpg", "", 3484, 2347}),
    RowName<BadFile>);

// --- Generated pictures ---

// 400 by 300 in four flat quarters, so each keeps its colour at every scale away from the edges.
constexpr std::array<test::Rgb, 4> Quarters = {test::Rgb{220, 30, 30}, test::Rgb{30, 200, 40},
                                               test::Rgb{40, 50, 210}, test::Rgb{240, 240, 240}};

void WriteQuarters(const char* path) {
    test::WriteJpeg(path, 400, 300,
                    [](int x, int y) { return Quarters[(y >= 150 ? 2 : 0) + (x >= 200 ? 1 : 0)]; },
                    {.quality = 95});
}

struct ScaleRow {
    const char* name;
    TJPEGScale scale;
    int width;
    int height;
};

class JpegScale : public test::TempCurrentDir, public ::testing::WithParamInterface<ScaleRow> {};

TEST_P(JpegScale, GivesTheScaledSizeAndTheColours) {
    WriteQuarters("quarters.jpg");
    TJPEGImage jpeg;
    jpeg.LoadFromFile("quarters.jpg");
    jpeg.SetScale(GetParam().scale);
    EXPECT_EQ(jpeg.Width(), 400);
    EXPECT_EQ(jpeg.Height(), 300);
    EXPECT_EQ(jpeg.ScaledWidth(), GetParam().width);
    EXPECT_EQ(jpeg.ScaledHeight(), GetParam().height);

    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    jpeg.DrawInto(&bitmap);
    EXPECT_EQ(PixelFormatOf(bitmap), pf24bit);
    const QImage& image = PixelsOf(bitmap).image;
    ASSERT_EQ(image.width(), GetParam().width);
    ASSERT_EQ(image.height(), GetParam().height);
    for (int q = 0; q < 4; ++q) {
        const int x = (q % 2 * 2 + 1) * image.width() / 4;
        const int y = (q / 2 * 2 + 1) * image.height() / 4;
        EXPECT_LE(Distance(PixelAt(image, x, y), Quarters[q]), 8) << "quarter " << q;
    }
}

INSTANTIATE_TEST_SUITE_P(Jpeg, JpegScale,
                         ::testing::Values(ScaleRow{"FullSize", jsFullSize, 400, 300},
                                           ScaleRow{"Half", jsHalf, 200, 150},
                                           ScaleRow{"Quarter", jsQuarter, 100, 75},
                                           ScaleRow{"EighthRoundsUp", jsEighth, 50, 38}),
                         RowName<ScaleRow>);

using JpegFile = test::TempCurrentDir;

TEST_F(JpegFile, DrawsAgainAtAnotherScale) {
    WriteQuarters("quarters.jpg");
    TJPEGImage jpeg;
    jpeg.LoadFromFile("quarters.jpg");
    jpeg.SetScale(jsEighth);
    TBitmap first;
    jpeg.DrawInto(&first);
    jpeg.SetScale(jsHalf);
    TBitmap second;
    jpeg.DrawInto(&second);
    EXPECT_EQ(PixelsOf(second).image.width(), 200);
    jpeg.SetScale(jsEighth);
    TBitmap third;
    jpeg.DrawInto(&third);
    EXPECT_EQ(PixelsOf(third).image, PixelsOf(first).image);
}

TEST_F(JpegFile, TruncatedFileGivesGreyWhereDataIsMissing) {
    WriteQuarters("quarters.jpg");
    QFile whole("quarters.jpg");
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    test::WriteFile("cut.jpg", whole.readAll().left(whole.size() / 3).toStdString());
    const TDecoded decoded = Decode("cut.jpg");
    ASSERT_EQ(decoded.Image().size(), QSize(400, 300));
    EXPECT_LE(Distance(PixelAt(decoded.Image(), 20, 20), Quarters[0]), 8);
    EXPECT_LE(Distance(PixelAt(decoded.Image(), 399, 299), test::Rgb{128, 128, 128}), 2);
}

TEST_F(JpegFile, PngNamedJpgIsNotAJpegFile) {
    QImage png(8, 8, QImage::Format_RGB888);
    png.fill(Qt::red);
    ASSERT_TRUE(png.save("picture.jpg", "PNG"));
    TJPEGImage jpeg;
    try {
        jpeg.LoadFromFile("picture.jpg");
        FAIL() << "a PNG file was read as JPEG";
    } catch (const EInvalidGraphic& error) {
        ExpectMentions(error, "picture.jpg: Not a JPEG file");
    }
}

TEST_F(JpegFile, MissingFileIsAnOpenError) {
    TJPEGImage jpeg;
    EXPECT_THROW(jpeg.LoadFromFile("absent.jpg"), EFOpenError);
}

// --- Inks: Adobe's files store them inverted, others plainly ---

struct InkRow {
    const char* name;
    bool adobe;
    std::array<std::uint8_t, 4> inks;
    test::Rgb rgb;
};

class JpegInks : public test::TempCurrentDir, public ::testing::WithParamInterface<InkRow> {};

TEST_P(JpegInks, BecomeTheirColour) {
    test::WriteJpeg("inks.jpg", 16, 16, {},
                    {.quality = 100, .inks = GetParam().inks, .adobe = GetParam().adobe});
    const TDecoded decoded = Decode("inks.jpg");
    EXPECT_LE(Distance(PixelAt(decoded.Image(), 8, 8), GetParam().rgb), 3)
        << ::testing::PrintToString(PixelAt(decoded.Image(), 8, 8));
}

INSTANTIATE_TEST_SUITE_P(
    Jpeg, JpegInks,
    ::testing::Values(InkRow{"PlainMagentaYellow", false, {0, 255, 255, 0}, {255, 0, 0}},
                      InkRow{"PlainHalfBlack", false, {0, 0, 0, 128}, {127, 127, 127}},
                      InkRow{"AdobeMagentaYellow", true, {0, 255, 255, 0}, {255, 0, 0}},
                      InkRow{"AdobeCyanHalfBlack", true, {255, 0, 0, 128}, {0, 127, 127}}),
    RowName<InkRow>);

} // namespace
