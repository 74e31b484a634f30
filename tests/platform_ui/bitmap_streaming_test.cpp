// A loaded bitmap drawn whole onto a smaller one is reduced as its rows are read from the file;
// anything else decodes it whole. Both give the same pixels, and the same errors.

#include "platform/core/exception.h"
#include "platform/ui/bitmap_p.h"
#include "platform/ui/graphics.h"
#include "tests/support/picture_files.h"

#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>

#include <malloc.h>

namespace {

// An RLE8 file with a two-colour palette and the given stream.
std::string Rle8File(int width, int height, const std::string& stream) {
    return test::TBmpFile{.width = width,
                          .height = height,
                          .bitCount = 8,
                          .compression = 1,
                          .coloursUsed = 2,
                          .palette = {0x336699, 0xFFEEDD},
                          .pixels = stream}
        .Build();
}

std::string Runs(int lines) {
    std::string stream;
    for (int i = 0; i < lines; ++i)
        stream += std::string("\x40\x01\x00\x02\x10\x00\x20\x01\x00\x00", 10);
    return stream;
}

void Fill(TBitmap& bitmap, TColor colour) {
    bitmap.Canvas()->Brush()->SetColor(colour);
    bitmap.Canvas()->FillRect(Rect(0, 0, bitmap.Width(), bitmap.Height()));
}

TBitmap* NewThumbnail() {
    auto* thumbnail = new TBitmap;
    thumbnail->SetPixelFormat(pf24bit);
    thumbnail->SetSize(100, 110);
    Fill(*thumbnail, clSilver);
    return thumbnail;
}

void DrawWhole(TBitmap& thumbnail, TBitmap& source) {
    thumbnail.Canvas()->CopyRect(Rect(0, 0, thumbnail.Width(), thumbnail.Height()), source.Canvas(),
                                 Rect(0, 0, source.Width(), source.Height()));
}

// The first pixel where the two bitmaps differ, or an empty string.
std::string Difference(TBitmap& want, TBitmap& got) {
    for (int y = 0; y < want.Height(); ++y)
        for (int x = 0; x < want.Width(); ++x)
            if (ColourAt(want, x, y) != ColourAt(got, x, y))
                return "at " + std::to_string(x) + "," + std::to_string(y);
    return {};
}

class BitmapStreaming : public test::TempCurrentDir {};

TEST_F(BitmapStreaming, TheStreamedThumbnailIsTheOneOfTheDecodedPicture) {
    test::WriteBmp("PICTURE.BMP", 713, 529, [](int x, int y) {
        return test::Rgb{static_cast<std::uint8_t>(x * 7 + y), static_cast<std::uint8_t>(y * 3),
                         static_cast<std::uint8_t>((x / 40 + y / 30) % 2 * 200)};
    });
    TBitmap streamedSource;
    streamedSource.LoadFromFile("PICTURE.BMP");
    EXPECT_EQ(streamedSource.Width(), 713);
    EXPECT_EQ(streamedSource.Height(), 529);
    TBitmap decodedSource;
    decodedSource.LoadFromFile("PICTURE.BMP");
    // Asking for a pixel decodes the picture whole; the draw below then reduces the decoded rows.
    EXPECT_EQ(ColourAt(decodedSource, 1, 0), 7U);

    const std::unique_ptr<TBitmap> streamed(NewThumbnail());
    const std::unique_ptr<TBitmap> decoded(NewThumbnail());
    DrawWhole(*streamed, streamedSource);
    DrawWhole(*decoded, decodedSource);
    EXPECT_EQ(Difference(*decoded, *streamed), "");

    // Drawn again, the file is read again, to the same result.
    const std::unique_ptr<TBitmap> again(NewThumbnail());
    DrawWhole(*again, streamedSource);
    EXPECT_EQ(Difference(*streamed, *again), "");
    // And the picture can still be decoded whole.
    EXPECT_EQ(ColourAt(streamedSource, 1, 0), 7U);
}

TEST_F(BitmapStreaming, AFailureInThePixelsLeavesTheThumbnailUntouched) {
    // Runs on every line, and the stream cut before the picture's end.
    std::string stream = Runs(300);
    stream.resize(stream.size() - 7);
    test::WriteFile("CUT.BMP", Rle8File(400, 300, stream));
    TBitmap source;
    source.LoadFromFile("CUT.BMP");
    ASSERT_EQ(source.Width(), 400);
    const std::string expected = "Cannot read picture CUT.BMP: file ends in the pixel data";
    const std::unique_ptr<TBitmap> thumbnail(NewThumbnail());
    try {
        DrawWhole(*thumbnail, source);
        FAIL() << "no exception";
    } catch (const EInvalidGraphic& error) {
        EXPECT_EQ(std::string(error.what()), expected);
    }
    for (int y = 0; y < 110; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(ColourAt(*thumbnail, x, y), clSilver) << x << "," << y;
    // Decoding it whole fails alike, every time.
    for (int i = 0; i < 2; ++i) {
        try {
            static_cast<void>(ColourAt(source, 0, 0));
            FAIL() << "no exception";
        } catch (const EInvalidGraphic& error) {
            EXPECT_EQ(std::string(error.what()), expected);
        }
    }
}

std::int64_t StatusKb(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0)
            return std::stoll(line.substr(field.size() + 1));
    return 0;
}

// A file of about a kilobyte may declare 11585 x 11585 pixels, nearly all of them skipped; its
// thumbnail costs as many additions per row as the row has boxes, and no picture-sized memory.
TEST_F(BitmapStreaming, ASparseRlePictureOfThePictureLimitIsCheap) {
    std::string stream = Runs(100);
    stream +=
        std::string("\x00\x02\x00\xFF\x00\x02\x00\xFF", 8) + Runs(3) + std::string("\x00\x01", 2);
    test::WriteFile("SPARSE.BMP", Rle8File(11585, 11585, stream));
    malloc_trim(0);
    const bool peakReset = static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5");
    const std::int64_t before = StatusKb("VmRSS");
    const auto start = std::chrono::steady_clock::now();
    TBitmap source;
    source.LoadFromFile("SPARSE.BMP");
    const std::unique_ptr<TBitmap> thumbnail(NewThumbnail());
    DrawWhole(*thumbnail, source);
    // Generous, for the sanitizers' builds: the release build takes a few milliseconds.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    if (peakReset) {
        EXPECT_LT(StatusKb("VmHWM") - before, 64 * 1024);
    }
    // The skipped areas have palette colour 0; the bottom rows' runs have colour 1 and 0.
    EXPECT_EQ(ColourAt(*thumbnail, 50, 20), 0x996633U);
}

} // namespace
