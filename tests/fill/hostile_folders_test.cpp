// DATA folders that a gallery meets in the wild or that someone made to hurt it, through both real
// fills: the fill ends, the readable pictures before any failure are shown, and every failure is an
// error message that names its file.

#include "platform/core/thread_p.h"
#include "platform/ui/controls_p.h"
#include "tests/fill/fill_fixture.h"
#include "tests/support/controls.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

enum class TFill { Foreground, Worker };

class HostileFolderTest : public test::FillTest {
protected:
    void RunFill(TFill fill) {
        if (fill == TFill::Foreground) {
            test::Click(Form().Button1);
            return;
        }
        test::Click(Form().Button2);
        // Generous: ten thousand hand-offs on a loaded machine take a while.
        ASSERT_TRUE(test::WaitUntil([] { return LiveThreadCount() == 0; },
                                    [this] { PumpMessages(); }, std::chrono::seconds(25)));
        // The last hand-off, or the worker's error, may still be queued.
        PumpMessages();
    }
    // The readable neighbours that every case below places around its hostile entry.
    void AddNeighbours() {
        AddPicture("a.bmp", 0);
        AddPicture("z.jpg", 1);
    }
    static void ExpectMessagesNameFiles() {
        for (const std::string& message : test::ShownMessages())
            EXPECT_NE(message.find(".\\DATA\\"), std::string::npos) << message;
    }
};

struct TFolderCase {
    std::string name;
    void (*make)();
    std::vector<std::string> captions;
};

void PrintTo(const TFolderCase& row, std::ostream* os) {
    *os << row.name;
}

// A photograph as cameras' damaged files are: every restart marker misnumbered. libjpeg
// resynchronises at each, and the picture is shown like the others.
void WriteDamagedPhotograph(const char* path) {
    test::WriteJpeg(
        path, 256, 256,
        [](int x, int y) {
            return test::Rgb{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 90};
        },
        {.restartInterval = 1});
    test::WriteFile(path, test::WithRestartMarkers(test::ReadFile(path), [](int, char& number) {
                        number = static_cast<char>(0xD0 | ((number + 4) & 7));
                    }));
}

// Entries that are not regular files are passed over without a word, as absent ones are: the
// gallery shows pictures, and these hold none. A damaged photograph is shown like the others.
const TFolderCase FolderCases[] = {
    {"PhotographWithDamagedRestartMarkers",
     [] { WriteDamagedPhotograph("DATA/m.jpg"); },
     {"A.BMP", "M.JPG", "Z.JPG"}},
    {"FifoNamedLikeAJpeg",
     [] { ASSERT_EQ(::mkfifo("DATA/pic.jpg", 0644), 0); },
     {"A.BMP", "Z.JPG"}},
    {"LinkToZeroDevice",
     [] { fs::create_symlink("/dev/zero", "DATA/big.bmp"); },
     {"A.BMP", "Z.JPG"}},
    {"LinkToRandomDevice",
     [] { fs::create_symlink("/dev/urandom", "DATA/noise.jpg"); },
     {"A.BMP", "Z.JPG"}},
    {"DanglingLink", [] { fs::create_symlink("gone.bmp", "DATA/gone.jpg"); }, {"A.BMP", "Z.JPG"}},
    {"LinkLoop",
     [] {
         fs::create_symlink("loop2.bmp", "DATA/loop1.bmp");
         fs::create_symlink("loop1.bmp", "DATA/loop2.bmp");
     },
     {"A.BMP", "Z.JPG"}},
    {"LinkToAPicture",
     [] {
         test::WriteBmp("elsewhere.bmp", 4, 4, test::Rgb{1, 2, 3});
         fs::create_symlink("../elsewhere.bmp", "DATA/m.bmp");
     },
     {"A.BMP", "M.BMP", "Z.JPG"}},
    {"FolderNamedLikeAPicture",
     [] { fs::create_directory("DATA/album.jpeg"); },
     {"A.BMP", "Z.JPG"}},
    {"DataIsAFile",
     [] {
         fs::remove_all("DATA");
         test::WriteFile("DATA", "not a folder");
     },
     {}},
    {"DataIsALinkToAFolder",
     [] {
         fs::rename("DATA", "real");
         fs::create_directory_symlink("real", "DATA");
     },
     {"A.BMP", "Z.JPG"}},
    {"DataIsADanglingLink",
     [] {
         fs::remove_all("DATA");
         fs::create_directory_symlink("nowhere", "DATA");
     },
     {}},
    {"UnusualNames",
     [] {
         for (const char* name :
              {"with space.bmp", "quote\"s'.bmp", "new\nline.bmp", "\xC3\xA9t\xC3\xA9.bmp"})
             test::WriteBmp(fs::path("DATA") / name, 3, 3, test::Rgb{9, 9, 9});
     },
     {"A.BMP", "NEW\nLINE.BMP", "QUOTE\"S'.BMP", "WITH SPACE.BMP", "Z.JPG",
      "\xC3\x89T\xC3\x89.BMP"}},
};

class HostileFolder : public HostileFolderTest,
                      public ::testing::WithParamInterface<std::tuple<TFolderCase, TFill>> {};

TEST_P(HostileFolder, FillEndsWithTheReadablePictures) {
    const auto& [row, fill] = GetParam();
    AddNeighbours();
    row.make();
    RunFill(fill);
    EXPECT_EQ(Captions(), row.captions);
    EXPECT_EQ(test::ShownMessages(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileFolder,
                         ::testing::Combine(::testing::ValuesIn(FolderCases),
                                            ::testing::Values(TFill::Foreground, TFill::Worker)),
                         [](const ::testing::TestParamInfo<std::tuple<TFolderCase, TFill>>& row) {
                             return std::get<0>(row.param).name +
                                    (std::get<1>(row.param) == TFill::Foreground ? "_Button1"
                                                                                 : "_Button2");
                         });

class HostileFolderFill : public HostileFolderTest, public ::testing::WithParamInterface<TFill> {};

// Bytes that are not UTF-8 cannot be upper-cased as letters; the file is still found and shown.
TEST_P(HostileFolderFill, NameThatIsNotUtf8IsShown) {
    AddNeighbours();
    test::WriteBmp(fs::path("DATA") / "b\xFF\xFE.bmp", 3, 3, test::Rgb{200, 10, 10});
    RunFill(GetParam());
    ASSERT_EQ(Captions().size(), 3U);
    EXPECT_EQ(Captions()[0], "A.BMP");
    EXPECT_TRUE(Near(ImageCentre(ImageIndexOf(*ItemOf(*Form().ListView1->Items(), 1))),
                     test::Rgb{200, 10, 10}));
    EXPECT_EQ(test::ShownMessages(), std::vector<std::string>{});
}

// Both names are listed, and both resolve, as on the case-blind file system the program was
// written for, to one and the same file: the gallery shows that picture twice, under the one
// upper-cased name.
TEST_P(HostileFolderFill, NamesDifferingOnlyInCaseShowOnePictureTwice) {
    AddPicture("twin.bmp", 0);
    AddPicture("Twin.bmp", 2);
    RunFill(GetParam());
    ASSERT_EQ(Captions(), (std::vector<std::string>{"TWIN.BMP", "TWIN.BMP"}));
    const test::Rgb first = ImageCentre(0);
    EXPECT_EQ(ImageCentre(1), first);
    EXPECT_TRUE(Near(first, Colour(0)) || Near(first, Colour(2)));
}

TEST_P(HostileFolderFill, ManyEntriesAllArrive) {
    // Fewer under the sanitizers or without optimisation, which make each load many times slower.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || !defined(__OPTIMIZE__)
    constexpr int Count = 1000;
#else
    constexpr int Count = 10000;
#endif
    fs::create_directories("DATA");
    test::WriteBmp("one.bmp", 1, 1, test::Rgb{5, 6, 7});
    for (int i = 0; i < Count; ++i)
        fs::copy_file("one.bmp", "DATA/" + std::to_string(i) + ".bmp");
    RunFill(GetParam());
    EXPECT_EQ(Form().ListView1->Items()->Count(), Count);
    EXPECT_EQ(ImageCount(), Count);
    EXPECT_EQ(test::ShownMessages(), std::vector<std::string>{});
}

// A file that the scan listed and that is then removed or cut short while the fill runs: each
// either shows, is passed over, or fails with its name; the fill always ends.
TEST_P(HostileFolderFill, FilesVanishingOrShrinkingDuringTheFill) {
    constexpr int Count = 200;
    fs::create_directories("DATA");
    for (int i = 0; i < Count; ++i)
        test::WriteBmp("DATA/p" + std::to_string(1000 + i) + ".bmp", 40, 30, Colour(i));
    std::atomic<bool> stop = false;
    std::thread vandal([&stop] {
        for (int i = Count - 1; i >= 0 && !stop; --i) {
            const fs::path path = "DATA/p" + std::to_string(1000 + i) + ".bmp";
            std::error_code ignored;
            if (i % 2 == 0)
                fs::remove(path, ignored);
            else
                fs::resize_file(path, 60, ignored);
        }
    });
    RunFill(GetParam());
    stop = true;
    vandal.join();
    EXPECT_LE(Captions().size(), static_cast<std::size_t>(Count));
    EXPECT_LE(test::ShownMessages().size(), 1U);
    ExpectMessagesNameFiles();
}

// The same, without a race: the probe has judged the file, and it is cut short before the loader
// reads it.
TEST_P(HostileFolderFill, FileCutShortBetweenProbeAndLoad) {
    AddPicture("a.bmp", 0);
    const AnsiString path = ".\\DATA\\A.BMP";
    const int kind = Form().ProbeImageKind(path);
    fs::resize_file("DATA/a.bmp", 20);
    try {
        auto thumbnail = std::unique_ptr<TBitmap>(Form().LoadThumbnailOfKind(kind, path));
        ADD_FAILURE() << "a cut file gave a picture";
    } catch (const Exception& error) {
        EXPECT_NE(std::string(error.what()).find(".\\DATA\\A.BMP"), std::string::npos);
    }
}

// Root reads everything, so the check runs in a child that has become the unprivileged user
// (CI runs as root); another user is refused the file as it is.
TEST_P(HostileFolderFill, FileThatCannotBeOpenedStopsTheFillWithItsName) {
    constexpr uid_t Nobody = 65534;
    AddNeighbours();
    AddPicture("m.bmp", 2);
    fs::permissions("DATA/m.bmp", fs::perms::none);
    fs::permissions(".", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    fs::permissions("DATA", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(Nobody) != 0 || ::setuid(Nobody) != 0))
            ::_exit(2);
        RunFill(GetParam());
        const bool shown =
            Captions() == std::vector<std::string>{"A.BMP"} &&
            test::ShownMessages() ==
                std::vector<std::string>{"Cannot open file \".\\DATA\\M.BMP\": Permission denied"};
        ::_exit(shown ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
    EXPECT_NE(WEXITSTATUS(status), 2) << "cannot become the unprivileged user";
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "the fill did not stop at M.BMP with an error naming it, keeping A.BMP";
}

INSTANTIATE_TEST_SUITE_P(Fills, HostileFolderFill,
                         ::testing::Values(TFill::Foreground, TFill::Worker),
                         [](const ::testing::TestParamInfo<TFill>& row) {
                             return row.param == TFill::Foreground ? "Button1" : "Button2";
                         });

} // namespace
