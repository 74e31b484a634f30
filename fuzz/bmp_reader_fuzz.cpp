// Feeds arbitrary bytes to the BMP reader as a whole file. Besides the sanitizers' findings, it
// checks the reader's promise that every pixel of the rows it asked for is written once it has read
// the picture to its end: each input is decoded twice, into rows first filled with 0x00 and then
// with 0xFF, and both must agree.

#include "platform/core/bmp_reader.h"
#include "platform/core/exception.h"
#include "tests/support/memory_stream.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

// Larger pictures are refused by the allocation callback: the headers and the refusal are still
// exercised, and a run does not spend its time filling a few hundred megabytes per input.
constexpr std::int64_t MaxFuzzPixels = std::int64_t{64} * 1024;

// The decoded pixels, or nothing when the reader refused the input.
bool Decode(const std::uint8_t* data, std::size_t size, std::uint8_t fill,
            std::vector<std::uint8_t>& pixels) {
    test::TMemoryStream stream(std::string_view(reinterpret_cast<const char*>(data), size));
    try {
        TBmpPicture picture(stream, "FUZZ.BMP");
        const int width = picture.Width();
        const int height = picture.Height();
        if (std::int64_t{width} * height > MaxFuzzPixels)
            throw EInvalidGraphic("FUZZ.BMP is too large for the fuzzer");
        pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, fill);
        TRowsWriter writer({pixels.data(), std::ptrdiff_t{width} * 3, width, height},
                           picture.Layout());
        picture.Deliver(writer);
    } catch (const Exception& error) {
        // Every refusal must say which file and why.
        if (std::strstr(error.what(), "FUZZ.BMP") == nullptr)
            std::abort();
        return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> dark;
    std::vector<std::uint8_t> light;
    const bool darkRead = Decode(data, size, 0x00, dark);
    const bool lightRead = Decode(data, size, 0xFF, light);
    // Only a picture read to its end promises every pixel: a failed read may stop between rows.
    if (darkRead != lightRead || (darkRead && dark != light))
        std::abort();
    return 0;
}
