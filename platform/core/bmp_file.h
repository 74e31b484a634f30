#pragma once

#include "platform/core/ansi_string.h"
#include "platform/core/file_stream.h"
#include "platform/core/raster.h"

#include <memory>
#include <vector>

class TBmpPicture;

// A Windows bitmap (BMP) file whose headers have been read, its pixels decoded from the file when
// they are delivered. The file stays open, so that every delivery reads the file that was loaded,
// never one that has taken its name since; one written since the load, or while its pixels are
// read, is refused rather than shown half old and half new.
class TBmpFile final : public TPictureDecoder {
public:
    // Raises EFOpenError or EInvalidGraphic naming the file and the cause.
    explicit TBmpFile(const AnsiString& fileName);
    ~TBmpFile() override;

    int Width() const override { return m_width; }
    int Height() const override { return m_height; }
    TRowLayout Layout() const override { return m_layout; }
    const std::vector<std::uint8_t>& Profile() const override { return m_profile; }
    void Deliver(TRowSink& sink) override;
    [[noreturn]] void NoMemory() const override;

private:
    [[noreturn]] void Fail(const std::string& cause) const;

    TFileStream m_stream;
    // The headers read, standing before the pixels; none once they have been delivered.
    std::unique_ptr<TBmpPicture> m_picture;
    int m_width = 0;
    int m_height = 0;
    TRowLayout m_layout;
    std::vector<std::uint8_t> m_profile;
};
