#include "platform/core/bmp_file.h"

#include "platform/core/bmp_reader.h"
#include "platform/core/exception.h"

#include <string>

TBmpFile::TBmpFile(const AnsiString& fileName)
    : m_stream(fileName, fmOpenRead), m_picture(std::make_unique<TBmpPicture>(m_stream, fileName)),
      m_width(m_picture->Width()), m_height(m_picture->Height()), m_layout(m_picture->Layout()),
      m_profile(m_picture->Profile()) {}

TBmpFile::~TBmpFile() = default;

void TBmpFile::Deliver(TRowSink& sink) {
    constexpr const char* Changed = "the file has changed since it was loaded";
    if (!m_picture) {
        m_stream.Rewind();
        m_picture = std::make_unique<TBmpPicture>(m_stream, m_stream.FileName());
        // The rows go into buffers sized by the first headers.
        if (m_picture->Width() != m_width || m_picture->Height() != m_height ||
            m_picture->Layout().bottomUp != m_layout.bottomUp ||
            m_picture->Layout().bgr != m_layout.bgr)
            Fail(Changed);
    }
    if (m_stream.Changed())
        Fail(Changed);
    // Taken, so that the next delivery starts afresh, whatever happens.
    const std::unique_ptr<TBmpPicture> picture = std::move(m_picture);
    picture->Deliver(sink);
    if (m_stream.Changed())
        Fail(Changed);
    m_profile = picture->Profile();
}

void TBmpFile::NoMemory() const {
    Fail("out of memory for " + std::to_string(m_width) + " by " + std::to_string(m_height) +
         " pixels");
}

void TBmpFile::Fail(const std::string& cause) const {
    throw EInvalidGraphic("Cannot read picture " + m_stream.FileName().str() + ": " + cause);
}
