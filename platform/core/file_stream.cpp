#include "platform/core/file_stream.h"

#include "platform/core/exception.h"
#include "platform/core/path_resolution.h"

#include <cerrno>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string ErrorText(int error) {
    return std::generic_category().message(error);
}

[[noreturn]] void ThrowOpenError(const AnsiString& fileName, const std::string& cause) {
    throw EFOpenError("Cannot open file \"" + fileName + "\": " + AnsiString(cause));
}

[[noreturn]] void ThrowReadError(const AnsiString& fileName, const std::string& cause) {
    throw Exception("Cannot read file \"" + fileName + "\": " + AnsiString(cause));
}

// Owns a descriptor until the stream takes it, so that every refusal closes it.
class Descriptor {
public:
    explicit Descriptor(int descriptor) : m_descriptor(descriptor) {}
    ~Descriptor() {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return m_descriptor; }
    int Release() { return std::exchange(m_descriptor, -1); }

private:
    int m_descriptor;
};

struct stat Status(int descriptor, const AnsiString& fileName) {
    struct stat status {};
    if (::fstat(descriptor, &status) != 0)
        ThrowReadError(fileName, ErrorText(errno));
    return status;
}

std::int64_t ModifiedNanoseconds(const struct stat& status) {
    return std::int64_t{status.st_mtim.tv_sec} * 1'000'000'000 + status.st_mtim.tv_nsec;
}

} // namespace

TFileStream::TFileStream(const AnsiString& fileName, unsigned short mode) : m_fileName(fileName) {
    if (mode != fmOpenRead)
        ThrowOpenError(fileName, "only reading is supported");
    // Non-blocking, so that opening a FIFO without a writer returns at once and is then refused;
    // no controlling terminal when the name leads to one. The flag stays: it does not change how a
    // regular file reads, and clearing it would cost two calls on every picture.
    const auto openPath = [](const char* path) {
        return ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    };
    // Nearly every name opened is the file's as written: opening it tells what resolving it first
    // would, a path lookup sooner. Only when that fails is the name resolved, and the reason given
    // is that of the resolved name.
    int opened = openPath(WrittenPath(fileName).c_str());
    if (opened < 0) {
        const auto path = ResolvePath(fileName);
        if (!path)
            ThrowOpenError(fileName, ErrorText(ENOENT));
        opened = openPath(path->c_str());
        if (opened < 0)
            ThrowOpenError(fileName, ErrorText(errno));
    }
    Descriptor descriptor(opened);
    struct stat status {};
    if (::fstat(descriptor.Get(), &status) != 0)
        ThrowOpenError(fileName, ErrorText(errno));
    if (!S_ISREG(status.st_mode))
        ThrowOpenError(fileName, "not a regular file");
    m_openedSize = status.st_size;
    m_openedModified = ModifiedNanoseconds(status);
    m_descriptor = descriptor.Release();
}

TFileStream::~TFileStream() {
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

int TFileStream::Read(void* buffer, int count) {
    // Fills the buffer unless the file ends first: callers take a short count as the end.
    auto* bytes = static_cast<char*>(buffer);
    int total = 0;
    while (total < count) {
        const ssize_t got =
            ::read(m_descriptor, bytes + total, static_cast<std::size_t>(count - total));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            ThrowReadError(m_fileName, ErrorText(errno));
        if (got == 0)
            break;
        total += static_cast<int>(got);
    }
    return total;
}

std::int64_t TFileStream::Size() const {
    return Status(m_descriptor, m_fileName).st_size;
}

void TFileStream::Rewind() {
    if (::lseek(m_descriptor, 0, SEEK_SET) != 0)
        ThrowReadError(m_fileName, ErrorText(errno));
}

bool TFileStream::Changed() const {
    const struct stat status = Status(m_descriptor, m_fileName);
    return status.st_size != m_openedSize || ModifiedNanoseconds(status) != m_openedModified;
}
