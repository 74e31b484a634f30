// Feeds arbitrary bytes, as a file in DATA, to the probe and both loaders of the program's form,
// as a fill does: each must give a thumbnail of the form's size or raise an Exception that names
// the file. The application and the form are made once, headless, in a folder of the fuzzer's own:
// it becomes the current directory, so give the fuzzer absolute paths.
//
// A JPEG picture that claims more than a quarter megapixel is passed over: it costs the decoder
// work and memory in proportion to its size, along the very paths that a small one takes, and an
// input should cost milliseconds, not seconds. The tests and the bench load pictures of every size.

#include "app/fMain.h"
#include "platform/core/exception.h"
#include "platform/ui/jpeg_image.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

constexpr int ThumbWidth = 100;
constexpr int ThumbHeight = 110;
// One name the probe sniffs (JPG) and one it takes by its extension alone (BMP).
constexpr const char* SniffedPath = ".\\DATA\\FUZZ.JPG";
constexpr const char* BitmapPath = ".\\DATA\\FUZZ.BMP";
constexpr std::int64_t MostJpegPixels = std::int64_t{512} * 512;

void WriteInput(const char* fileName, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(std::filesystem::path("DATA") / fileName, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void CheckThumbnail(TBitmap* thumbnail) {
    const auto owned = std::unique_ptr<TBitmap>(thumbnail);
    if (owned != nullptr && (owned->Width() != ThumbWidth || owned->Height() != ThumbHeight))
        std::abort();
}

template <class TLoad> void ExpectThumbnailOrNamedError(const char* path, TLoad load) {
    try {
        CheckThumbnail(load());
    } catch (const Exception& error) {
        if (std::strstr(error.what(), path + 2) == nullptr) // without the leading ".\"
            std::abort();
    }
}

bool ClaimsALargeJpegPicture(const char* path) {
    try {
        TJPEGImage jpeg;
        jpeg.LoadFromFile(path);
        return std::int64_t{jpeg.Width()} * jpeg.Height() > MostJpegPixels;
    } catch (const Exception&) {
        // Not a JPEG picture, or a broken one: the loaders meet the same.
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    // The environment is read and written before the fuzzer or Qt starts any thread.
    // NOLINTBEGIN(concurrency-mt-unsafe)
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Under $TMPDIR when set: tools/fuzz.sh points it at a folder that it removes afterwards.
    const char* temp = std::getenv("TMPDIR");
    // NOLINTEND(concurrency-mt-unsafe)
    std::string folder = std::string(temp != nullptr ? temp : "/tmp") + "/ombrel-fuzz-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr)
        std::abort();
    std::filesystem::current_path(folder);
    std::filesystem::create_directory("DATA");
    // Never destroyed: the fuzzer leaves through exit(), when Qt's own globals may already be gone,
    // so tearing the application down then would crash in Qt.
    static TApplication* const application = std::make_unique<TApplication>().release();
    Application = application;
    Application->Initialize();
    Application->CreateForm(Form1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto loadAsFill = [](const char* path) {
        return Form1->LoadThumbnailOfKind(Form1->ProbeImageKind(path), path);
    };
    WriteInput("FUZZ.JPG", data, size);
    if (ClaimsALargeJpegPicture(SniffedPath))
        return 0;
    ExpectThumbnailOrNamedError(SniffedPath, [&] { return loadAsFill(SniffedPath); });
    // The probe sent a bitmap to the bitmap loader: the JPEG loader's own bitmap branch is left.
    // Otherwise the bytes went to the JPEG decoder, and the bitmap loader has yet to see them.
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') {
        ExpectThumbnailOrNamedError(SniffedPath,
                                    [] { return Form1->LoadJpegThumbnail(SniffedPath); });
    } else {
        WriteInput("FUZZ.BMP", data, size);
        ExpectThumbnailOrNamedError(BitmapPath, [&] { return loadAsFill(BitmapPath); });
    }
    return 0;
}
