#pragma once

#include "platform/core/ansi_string.h"
#include "platform/core/raster.h"

#include <cstdint>
#include <functional>
#include <vector>

class TStream;

// The reader's own working memory, besides the rows it fills: its read buffer.
constexpr std::int64_t BmpReaderBytes = std::int64_t{512} * 1024;

// Decodes a Windows bitmap (BMP) file from stream. Once the header has been checked, allocate is
// called once with the picture's size and returns the rows to fill; every pixel of them is written.
// Raises EInvalidGraphic naming fileName and the cause for anything that is not a readable BMP, and
// EApplicationClosing between rows once decodes are stopped. When profile is given, it receives
// the ICC profile that a V5 header embeds (else it stays empty).
void ReadBmp(TStream& stream, const AnsiString& fileName,
             const std::function<TRgbRows(int width, int height)>& allocate,
             std::vector<std::uint8_t>* profile = nullptr);
