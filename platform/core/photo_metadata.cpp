#include "platform/core/photo_metadata.h"

#include <algorithm>
#include <array>
#include <functional>

namespace {

constexpr std::array<std::uint8_t, 6> ExifSignature = {'E', 'x', 'i', 'f', 0, 0};
constexpr std::array<std::uint8_t, 12> IccSignature = {'I', 'C', 'C', '_', 'P', 'R',
                                                       'O', 'F', 'I', 'L', 'E', 0};
constexpr std::uint16_t OrientationTag = 0x0112;
constexpr std::uint16_t ShortType = 3;
constexpr std::size_t TiffHeaderSize = 8;
constexpr std::size_t IfdEntrySize = 12;

template <std::size_t N>
bool StartsWith(std::span<const std::uint8_t> bytes, const std::array<std::uint8_t, N>& prefix) {
    return bytes.size() >= N && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// The TIFF structure inside the EXIF payload; every read is checked against its end.
class TTiff {
public:
    explicit TTiff(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    // False unless the byte-order mark and the magic number 42 are there.
    bool ReadHeader() {
        if (m_bytes.size() < TiffHeaderSize)
            return false;
        if (m_bytes[0] == 'I' && m_bytes[1] == 'I')
            m_bigEndian = false;
        else if (m_bytes[0] == 'M' && m_bytes[1] == 'M')
            m_bigEndian = true;
        else
            return false;
        return U16(2) == 42;
    }

    bool Fits(std::size_t offset, std::size_t count) const {
        return offset <= m_bytes.size() && count <= m_bytes.size() - offset;
    }
    std::uint16_t U16(std::size_t at) const {
        const unsigned a = m_bytes[at];
        const unsigned b = m_bytes[at + 1];
        return static_cast<std::uint16_t>(m_bigEndian ? (a << 8) | b : (b << 8) | a);
    }
    std::uint32_t U32(std::size_t at) const {
        const std::uint32_t high = m_bigEndian ? U16(at) : U16(at + 2);
        const std::uint32_t low = m_bigEndian ? U16(at + 2) : U16(at);
        return (high << 16) | low;
    }

private:
    std::span<const std::uint8_t> m_bytes;
    bool m_bigEndian = false;
};

} // namespace

// Only the first IFD is read and no offset is followed out of it, so a chain of IFDs that loops
// cannot keep the parser going.
int ExifOrientation(std::span<const std::uint8_t> app1) {
    if (!StartsWith(app1, ExifSignature))
        return 1;
    TTiff tiff(app1.subspan(ExifSignature.size()));
    if (!tiff.ReadHeader())
        return 1;
    const std::size_t ifd = tiff.U32(4);
    if (!tiff.Fits(ifd, 2))
        return 1;
    const std::size_t count = tiff.U16(ifd);
    const std::size_t entries = ifd + 2;
    if (!tiff.Fits(entries, count * IfdEntrySize))
        return 1;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = entries + i * IfdEntrySize;
        if (tiff.U16(entry) != OrientationTag)
            continue;
        if (tiff.U16(entry + 2) != ShortType || tiff.U32(entry + 4) != 1)
            return 1;
        // A single SHORT sits in the first two bytes of the value field, in the file's order.
        const int value = tiff.U16(entry + 8);
        return value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}

std::vector<std::uint8_t> AssembleIccProfile(std::span<const std::span<const std::uint8_t>> app2) {
    // Each chunk: the signature, its sequence number (from 1) and the chunk count, then its bytes.
    constexpr std::size_t HeaderSize = IccSignature.size() + 2;
    std::array<std::span<const std::uint8_t>, 256> chunks{};
    std::array<bool, 256> seen{};
    int count = 0;
    std::size_t total = 0;
    for (const std::span<const std::uint8_t> payload : app2) {
        if (!StartsWith(payload, IccSignature) || payload.size() < HeaderSize)
            continue;
        const int sequence = payload[IccSignature.size()];
        const int declared = payload[IccSignature.size() + 1];
        if (count == 0)
            count = declared;
        if (declared != count || sequence < 1 || sequence > count || seen[sequence])
            return {};
        seen[sequence] = true;
        chunks[sequence] = payload.subspan(HeaderSize);
        total += chunks[sequence].size();
    }
    if (count == 0 || !std::all_of(seen.begin() + 1, seen.begin() + count + 1, std::identity{}))
        return {};
    std::vector<std::uint8_t> profile;
    profile.reserve(total);
    for (int sequence = 1; sequence <= count; ++sequence)
        profile.insert(profile.end(), chunks[sequence].begin(), chunks[sequence].end());
    return profile;
}
