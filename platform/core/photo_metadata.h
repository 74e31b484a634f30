#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// What a photograph's file says about how its pixels are to be seen, read from the payloads of its
// metadata segments. Both functions read nothing outside the payloads they are given and never
// raise: metadata they cannot make sense of reads as absent.

// The Orientation (0x0112) of the first IFD of an APP1 payload that starts with "Exif\0\0", 1 to 8;
// 1 (as stored) when the payload is not EXIF, has no such tag, or is malformed.
int ExifOrientation(std::span<const std::uint8_t> app1);

// The ICC profile that the APP2 payloads starting with "ICC_PROFILE\0" carry, joined in the order
// of their sequence numbers whatever the order of the payloads; other APP2 payloads are passed
// over. Empty when there is none, or when a chunk is missing, repeated or disagrees on the chunk
// count.
std::vector<std::uint8_t> AssembleIccProfile(std::span<const std::span<const std::uint8_t>> app2);
