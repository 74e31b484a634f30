#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/ansi_string.h"
#include "platform/core/file_stream.h"
#include "platform/core/raster.h"

#include <gtest/gtest.h>

namespace test {

// Runs each test in a fresh empty current directory, removed afterwards.
class TempCurrentDir : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    const std::filesystem::path& Dir() const { return m_dir; }

private:
    std::filesystem::path m_previous;
    std::filesystem::path m_dir;
};

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

void PrintTo(const Rgb& colour, std::ostream* os);

void WriteFile(const std::filesystem::path& path, std::string_view bytes);
std::string ReadFile(const std::filesystem::path& path);
// Appends the low `bytes` bytes of value, the least significant first unless bigEndian.
void Append(std::string& out, std::uint32_t value, int bytes, bool bigEndian = false);

// Decodes a BMP picture from stream whole, as the platform's bitmap does: once the headers have
// been checked, allocate is called with the picture's size and returns the rows to fill. When
// profile is given, it receives the ICC profile that the file embeds.
void ReadBmp(TStream& stream, const AnsiString& fileName,
             const std::function<TRgbRows(int width, int height)>& allocate,
             std::vector<std::uint8_t>* profile = nullptr);

// A file or folder of the public conformance pictures. When their folder is not where the build
// was told (OMBREL_TESTDATA), gives nothing, and the calling test, which then returns, is skipped
// with words that say where it looked; in CI (the environment sets CI), where the pictures are
// always there, it fails instead.
std::optional<std::filesystem::path> TestData(const std::string& relative);

// Names the rows of a table of cases after their field `name`, for INSTANTIATE_TEST_SUITE_P.
struct RowName {
    template <class TRow> std::string operator()(const ::testing::TestParamInfo<TRow>& row) const {
        return row.param.name;
    }
};

// Calls pump until done() holds or the deadline passes; true when done() held.
bool WaitUntil(const std::function<bool()>& done, const std::function<void()>& pump,
               std::chrono::milliseconds deadline = std::chrono::seconds(10));

} // namespace test
