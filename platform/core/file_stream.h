#pragma once

#include "platform/core/ansi_string.h"

#include <cstdint>

constexpr unsigned short fmOpenRead = 0x0000;

// A source of bytes; owned by whoever created it, used by one thread at a time.
class TStream {
public:
    virtual ~TStream() = default;
    // Reads up to count bytes; returns how many were read, 0 at the end.
    virtual int Read(void* buffer, int count) = 0;
    virtual std::int64_t Size() const = 0;
};

// A file opened for reading. Only regular files open: a folder, a device or a FIFO raises rather
// than blocking. The constructor raises EFOpenError naming the file and the cause.
class TFileStream : public TStream {
public:
    TFileStream(const AnsiString& fileName, unsigned short mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int Read(void* buffer, int count) override;
    std::int64_t Size() const override;
    const AnsiString& FileName() const { return m_fileName; }

private:
    AnsiString m_fileName;
    int m_descriptor = -1;
};
