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
// than blocking. The constructor raises EFOpenError naming the file and the cause. The stream reads
// the file it opened for as long as it lives, even once another file has taken its name.
class TFileStream : public TStream {
public:
    TFileStream(const AnsiString& fileName, unsigned short mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int Read(void* buffer, int count) override;
    std::int64_t Size() const override;
    const AnsiString& FileName() const { return m_fileName; }
    // Reads from the start of the file again.
    void Rewind();
    // Whether the file was written since it was opened: its size or its time of modification
    // differ. A write within the same tick of the system's clock as the last one before the file
    // was opened may go unseen.
    bool Changed() const;

private:
    AnsiString m_fileName;
    int m_descriptor = -1;
    std::int64_t m_openedSize = 0;
    std::int64_t m_openedModified = 0; // nanoseconds
};
