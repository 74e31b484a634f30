#include "tests/support/test_support.h"

#include "platform/core/bmp_reader.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <thread>

namespace test {

namespace fs = std::filesystem;

void TempCurrentDir::SetUp() {
    m_previous = fs::current_path();
    std::random_device random;
    m_dir = fs::temp_directory_path() / ("ombrel-test-" + std::to_string(random()));
    fs::create_directories(m_dir);
    fs::current_path(m_dir);
}

void TempCurrentDir::TearDown() {
    fs::current_path(m_previous);
    std::error_code ignored;
    fs::remove_all(m_dir, ignored);
}

void PrintTo(const Rgb& colour, std::ostream* os) {
    *os << "rgb(" << int{colour.r} << ", " << int{colour.g} << ", " << int{colour.b} << ")";
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

void Append(std::string& out, std::uint32_t value, int bytes, bool bigEndian) {
    for (int i = 0; i < bytes; ++i) {
        const int shift = 8 * (bigEndian ? bytes - 1 - i : i);
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}

namespace {

void ReportMissingTestData(const fs::path& folder) {
    const std::string missing = "the conformance pictures are not at " + folder.string() +
                                " (set OMBREL_TESTDATA when configuring)";
    const char* ci = std::getenv("CI");
    if (ci != nullptr && *ci != '\0')
        ADD_FAILURE() << missing << "; in CI they must be there";
    else
        GTEST_SKIP() << missing;
}

} // namespace

void ReadBmp(TStream& stream, const AnsiString& fileName,
             const std::function<TRgbRows(int width, int height)>& allocate,
             std::vector<std::uint8_t>* profile) {
    TBmpPicture picture(stream, fileName);
    TRowsWriter writer(allocate(picture.Width(), picture.Height()), picture.Layout());
    picture.Deliver(writer);
    if (profile != nullptr)
        *profile = picture.Profile();
}

std::optional<fs::path> TestData(const std::string& relative) {
    const fs::path folder = OMBREL_TESTDATA_DIR;
    if (fs::is_directory(folder))
        return folder / relative;
    ReportMissingTestData(folder);
    return std::nullopt;
}

bool WaitUntil(const std::function<bool()>& done, const std::function<void()>& pump,
               std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        pump();
        std::this_thread::yield();
    }
    return true;
}

} // namespace test
