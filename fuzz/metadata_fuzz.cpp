// Feeds arbitrary bytes to the photograph metadata parsers: the whole input as an EXIF payload,
// and the input cut into APP2 payloads for the ICC profile's reassembly. Besides the sanitizers'
// findings, it checks their promises: an orientation from 1 to 8, and a profile no larger than the
// payloads it came from.

#include "platform/core/photo_metadata.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

// The first byte says how many payloads the rest is cut into, at the offsets that the next bytes
// give, so that the fuzzer can reach chunks in any order and of any size.
std::vector<std::span<const std::uint8_t>> CutIntoPayloads(std::span<const std::uint8_t> input) {
    std::vector<std::span<const std::uint8_t>> payloads;
    if (input.empty())
        return payloads;
    const std::size_t count = input[0] % 8 + 1;
    input = input.subspan(1);
    for (std::size_t i = 0; i + 1 < count && !input.empty(); ++i) {
        const std::size_t size = std::min<std::size_t>(input[0], input.size() - 1);
        payloads.push_back(input.subspan(1, size));
        input = input.subspan(1 + size);
    }
    payloads.push_back(input);
    return payloads;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    const int orientation = ExifOrientation(input);
    if (orientation < 1 || orientation > 8)
        std::abort();
    const std::vector<std::span<const std::uint8_t>> payloads = CutIntoPayloads(input);
    if (AssembleIccProfile(payloads).size() > size)
        std::abort();
    return 0;
}
