#include "tests/support/test_support.h"

#include <cstdlib>
#include <fstream>
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

void WriteFile(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

namespace {

void PutLittleEndian(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

} // namespace

void WriteBmp(const fs::path& path, int width, int height,
              const std::function<Rgb(int x, int y)>& pixel) {
    const int rowBytes = (width * 3 + 3) / 4 * 4;
    const auto pixelBytes = static_cast<std::uint32_t>(rowBytes * height);
    std::string file;
    file += "BM";
    PutLittleEndian(file, 54 + pixelBytes, 4);
    PutLittleEndian(file, 0, 4);
    PutLittleEndian(file, 54, 4);
    PutLittleEndian(file, 40, 4);
    PutLittleEndian(file, static_cast<std::uint32_t>(width), 4);
    PutLittleEndian(file, static_cast<std::uint32_t>(height), 4);
    PutLittleEndian(file, 1, 2);
    PutLittleEndian(file, 24, 2);
    PutLittleEndian(file, 0, 4);
    PutLittleEndian(file, pixelBytes, 4);
    PutLittleEndian(file, 2835, 4);
    PutLittleEndian(file, 2835, 4);
    PutLittleEndian(file, 0, 4);
    PutLittleEndian(file, 0, 4);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const Rgb colour = pixel(x, y);
            file.push_back(static_cast<char>(colour.b));
            file.push_back(static_cast<char>(colour.g));
            file.push_back(static_cast<char>(colour.r));
        }
        file.append(static_cast<std::size_t>(rowBytes - width * 3), '\0');
    }
    WriteFile(path, file);
}

void WriteBmp(const fs::path& path, int width, int height, Rgb colour) {
    WriteBmp(path, width, height, [colour](int, int) { return colour; });
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
