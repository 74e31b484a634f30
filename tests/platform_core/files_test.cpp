#include "platform/core/exception.h"
#include "platform/core/file_stream.h"
#include "platform/core/files.h"
#include "platform/core/path_resolution.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void MakeFifo(const fs::path& path) {
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
}

// ---- Names -------------------------------------------------------------------------------------

struct NameCase {
    const char* name;
    const char* path;
    const char* extension;
    const char* fileName;
};

void PrintTo(const NameCase& row, std::ostream* os) {
    *os << row.name;
}

class FileNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(FileNameTest, SplitsExtensionAndName) {
    const NameCase& row = GetParam();
    EXPECT_EQ(ExtractFileExt(row.path).str(), row.extension);
    EXPECT_EQ(ExtractFileName(row.path).str(), row.fileName);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FileNameTest,
    ::testing::Values(NameCase{"Plain", ".\\DATA\\A.BMP", ".BMP", "A.BMP"},
                      NameCase{"SeveralDots", ".\\DATA\\A.B.JPEG", ".JPEG", "A.B.JPEG"},
                      NameCase{"NoDot", ".\\DATA\\NOEXT", "", "NOEXT"},
                      NameCase{"DotInFolderName", ".\\DATA.X\\NAME", "", "NAME"},
                      NameCase{"DriveColon", "C:A.BMP", ".BMP", "A.BMP"},
                      NameCase{"DotBeforeDriveColon", "X.Y:NAME", "", "NAME"},
                      NameCase{"TrailingDot", "NAME.", ".", "NAME."},
                      NameCase{"DotEntry", ".", ".", "."}, NameCase{"DotDotEntry", "..", ".", ".."},
                      NameCase{"NoFolder", "A.BMP", ".BMP", "A.BMP"},
                      NameCase{"EndsWithSeparator", ".\\DATA\\", "", ""}),
    [](const auto& row) { return std::string(row.param.name); });

// ---- Folder search -----------------------------------------------------------------------------

struct Found {
    std::string name;
    int attributes = 0;
    std::int64_t size = 0;
};

std::vector<Found> Search(const AnsiString& pattern, int attributes) {
    std::vector<Found> found;
    TSearchRec searchRec;
    if (FindFirst(pattern, attributes, searchRec) == 0) {
        do {
            found.push_back({searchRec.Name.str(), searchRec.Attr, searchRec.Size});
        } while (FindNext(searchRec) == 0);
    }
    FindClose(searchRec);
    return found;
}

std::multiset<std::string> Names(const std::vector<Found>& found) {
    std::multiset<std::string> names;
    for (const Found& entry : found)
        names.insert(entry.name);
    return names;
}

class FindTest : public test::TempCurrentDir {
protected:
    void SetUp() override {
        TempCurrentDir::SetUp();
        fs::create_directories("DATA/sub");
        test::WriteFile("DATA/a.bmp", "12345");
        test::WriteFile("DATA/B.JPG", "");
        test::WriteFile("DATA/.hidden", "h");
        test::WriteFile("DATA/ro.txt", "");
        fs::permissions("DATA/ro.txt", fs::perms::owner_read | fs::perms::group_read);
        fs::create_directory_symlink("sub", "DATA/tosub");
        fs::create_symlink("nowhere", "DATA/dangling");
    }
};

TEST_F(FindTest, DeliversDotEntriesFirstThenEveryEntryOnceWithItsAttributes) {
    const auto found = Search(".\\DATA\\*.*", faAnyFile);
    ASSERT_GE(found.size(), 2u);
    EXPECT_EQ(found[0].name, ".");
    EXPECT_EQ(found[0].attributes, faDirectory);
    EXPECT_EQ(found[1].name, "..");
    EXPECT_EQ(found[1].attributes, faDirectory);

    std::map<std::string, std::pair<int, std::int64_t>> entries;
    for (std::size_t i = 2; i < found.size(); ++i) {
        const bool unique =
            entries.emplace(found[i].name, std::pair{found[i].attributes, found[i].size}).second;
        EXPECT_TRUE(unique) << found[i].name << " delivered twice";
    }
    const std::map<std::string, std::pair<int, std::int64_t>> expected = {
        {"a.bmp", {faArchive, 5}},
        {"B.JPG", {faArchive, 0}},
        {".hidden", {faHidden | faArchive, 1}},
        {"ro.txt", {faArchive | faReadOnly, 0}},
        {"sub", {faDirectory, 0}},
        {"tosub", {faDirectory, 0}},
        {"dangling", {0, 0}},
    };
    EXPECT_EQ(entries, expected);
}

TEST_F(FindTest, LeavesOutFoldersAndHiddenEntriesUnlessAskedFor) {
    EXPECT_EQ(Names(Search(".\\DATA\\*.*", faArchive | faReadOnly)),
              (std::multiset<std::string>{"a.bmp", "B.JPG", "ro.txt", "dangling"}));
    EXPECT_EQ(Names(Search(".\\DATA\\*.*", faDirectory)),
              (std::multiset<std::string>{".", "..", "a.bmp", "B.JPG", "ro.txt", "dangling", "sub",
                                          "tosub"}));
    EXPECT_EQ(Names(Search(".\\DATA\\*.*", faHidden)),
              (std::multiset<std::string>{"a.bmp", "B.JPG", "ro.txt", "dangling", ".hidden"}));
}

TEST_F(FindTest, FindsTheFolderWhateverTheCaseOfItsName) {
    EXPECT_EQ(Names(Search(".\\data\\*.BMP", faAnyFile)), (std::multiset<std::string>{"a.bmp"}));
}

TEST_F(FindTest, ReportsNothingFoundWithoutThrowing) {
    TSearchRec searchRec;
    EXPECT_NE(FindFirst(".\\NONE\\*.*", faAnyFile, searchRec), 0);
    FindClose(searchRec);
    FindClose(searchRec);
    EXPECT_NE(FindNext(searchRec), 0);

    EXPECT_NE(FindFirst(".\\DATA\\a.bmp\\*.*", faAnyFile, searchRec), 0);
    EXPECT_NE(FindFirst(".\\DATA\\sub\\*.JPG", faAnyFile, searchRec), 0);
    FindClose(searchRec);
}

TEST_F(FindTest, AStartedSearchCanBeAbandoned) {
    TSearchRec searchRec;
    ASSERT_EQ(FindFirst(".\\DATA\\*.*", faAnyFile, searchRec), 0);
    ASSERT_EQ(FindFirst(".\\DATA\\*.JPG", faAnyFile, searchRec), 0);
    EXPECT_EQ(searchRec.Name.str(), "B.JPG");
    EXPECT_NE(FindNext(searchRec), 0);
    FindClose(searchRec);
}

struct MaskCase {
    const char* name;
    const char* mask;
    std::multiset<std::string> expected;
};

void PrintTo(const MaskCase& row, std::ostream* os) {
    *os << row.name;
}

class MaskTest : public test::TempCurrentDir, public ::testing::WithParamInterface<MaskCase> {};

TEST_P(MaskTest, MatchesNamesIgnoringLetterCase) {
    fs::create_directory("D");
    for (const char* name : {"a.bmp", "B.JPG", "noext", "x.y.z", "\xC3\xA9t\xC3\xA9.jpg"})
        test::WriteFile(fs::path("D") / name, "");
    EXPECT_EQ(Names(Search(AnsiString(".\\D\\") + GetParam().mask, faAnyFile)),
              GetParam().expected);
}

const std::multiset<std::string> EveryName = {
    ".", "..", "a.bmp", "B.JPG", "noext", "x.y.z", "\xC3\xA9t\xC3\xA9.jpg"};

INSTANTIATE_TEST_SUITE_P(
    Rows, MaskTest,
    ::testing::Values(
        MaskCase{"StarDotStarTakesNamesWithoutDot", "*.*", EveryName},
        MaskCase{"Star", "*", EveryName}, MaskCase{"ExtensionInOtherCase", "*.BMP", {"a.bmp"}},
        MaskCase{"QuestionMarkIsOneLetter", "?.jpg", {"B.JPG"}},
        MaskCase{"QuestionMarkIsOneCharacterNotByte", "?T?.JPG", {"\xC3\xA9t\xC3\xA9.jpg"}},
        MaskCase{"LastExtensionOnly", "*.Z", {"x.y.z"}},
        MaskCase{"DotStarAfterNameWithoutDot", "NOEXT.*", {"noext"}},
        MaskCase{"ExactName", "x.y.z", {"x.y.z"}}),
    [](const auto& row) { return std::string(row.param.name); });

// ---- FileExists --------------------------------------------------------------------------------

struct ExistsCase {
    const char* name;
    const char* path;
    bool expected;
};

void PrintTo(const ExistsCase& row, std::ostream* os) {
    *os << row.name;
}

class FileExistsTest : public test::TempCurrentDir,
                       public ::testing::WithParamInterface<ExistsCase> {};

TEST_P(FileExistsTest, TrueOnlyForRegularFiles) {
    test::WriteFile("file.txt", "x");
    test::WriteFile("lower.jpg", "x");
    fs::create_symlink("file.txt", "link");
    fs::create_directory("folder");
    MakeFifo("fifo");
    fs::create_symlink("nowhere", "dangling");
    fs::create_symlink("loop", "loop");
    EXPECT_EQ(FileExists(GetParam().path), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, FileExistsTest,
                         ::testing::Values(ExistsCase{"RegularFile", ".\\file.txt", true},
                                           ExistsCase{"UpperCasedName", ".\\LOWER.JPG", true},
                                           ExistsCase{"LinkToFile", ".\\link", true},
                                           ExistsCase{"Folder", ".\\folder", false},
                                           ExistsCase{"Fifo", ".\\fifo", false},
                                           ExistsCase{"DanglingLink", ".\\dangling", false},
                                           ExistsCase{"LinkLoop", ".\\loop", false},
                                           ExistsCase{"Missing", ".\\missing.txt", false},
                                           ExistsCase{"BelowAFile", ".\\file.txt\\x", false},
                                           ExistsCase{"Device", "/dev/null", false},
                                           ExistsCase{"Empty", "", false}),
                         [](const auto& row) { return std::string(row.param.name); });

// ---- ResolvePath -------------------------------------------------------------------------------

// "straße.jpg" in UTF-8, split so that the e is not read as part of the escape before it.
constexpr const char* SharpSName = "stra\xC3\x9F"
                                   "e.jpg";

struct ResolveCase {
    const char* name;
    std::string path;
    std::optional<std::string> expected;
};

void PrintTo(const ResolveCase& row, std::ostream* os) {
    *os << row.name;
}

class ResolveTest : public test::TempCurrentDir, public ::testing::WithParamInterface<ResolveCase> {
protected:
    void SetUp() override {
        TempCurrentDir::SetUp();
        fs::create_directories("DATA/sub/Inner");
        for (const char* name : {"lower.jpg", "Mixed.Bmp", "caf\xC3\xA9.jpg", SharpSName,
                                 "x\xE9.jpg", "EXACT.JPG", "exact.jpg", "sub/Inner/file.txt"})
            test::WriteFile(fs::path("DATA") / name, "");
    }
};

TEST_P(ResolveTest, FindsTheEntryWhateverItsLetterCase) {
    const auto resolved = ResolvePath(AnsiString(GetParam().path));
    if (!GetParam().expected)
        EXPECT_FALSE(resolved) << *resolved;
    else
        EXPECT_EQ(resolved, fs::path(*GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ResolveTest,
    ::testing::Values(
        ResolveCase{"ExactName", ".\\DATA\\lower.jpg", "./DATA/lower.jpg"},
        ResolveCase{"UpperCasedName", ".\\DATA\\LOWER.JPG", "./DATA/lower.jpg"},
        ResolveCase{"MixedCaseOnDisk", ".\\DATA\\MIXED.BMP", "./DATA/Mixed.Bmp"},
        ResolveCase{"AccentedE", ".\\DATA\\CAF\xC3\x89.JPG", "./DATA/caf\xC3\xA9.jpg"},
        ResolveCase{"SharpS", ".\\DATA\\STRASSE.JPG", std::string("./DATA/") + SharpSName},
        ResolveCase{"NonUtf8Name", ".\\DATA\\X\xE9.JPG", "./DATA/x\xE9.jpg"},
        ResolveCase{"SubFolders", ".\\DATA\\SUB\\INNER\\FILE.TXT", "./DATA/sub/Inner/file.txt"},
        ResolveCase{"ExactNameWinsOverCaseVariant", ".\\DATA\\EXACT.JPG", "./DATA/EXACT.JPG"},
        ResolveCase{"LowerCasedComponent", ".\\data\\MIXED.BMP", "./DATA/Mixed.Bmp"},
        ResolveCase{"SlashSeparators", "./DATA/LOWER.JPG", "./DATA/lower.jpg"},
        ResolveCase{"DoubledSeparator", ".\\DATA\\\\LOWER.JPG", "./DATA/lower.jpg"},
        ResolveCase{"ParentComponent", ".\\DATA\\SUB\\..\\LOWER.JPG", "./DATA/sub/../lower.jpg"},
        ResolveCase{"Folder", ".\\DATA\\SUB", "./DATA/sub"},
        ResolveCase{"MissingFile", ".\\DATA\\NONE.JPG", std::nullopt},
        ResolveCase{"MissingFolder", ".\\NODATA\\LOWER.JPG", std::nullopt},
        ResolveCase{"BelowAFile", ".\\DATA\\LOWER.JPG\\X", std::nullopt},
        ResolveCase{"Empty", "", std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

class ResolveChangesTest : public test::TempCurrentDir {};

TEST_F(ResolveChangesTest, AbsolutePath) {
    fs::create_directory("DATA");
    test::WriteFile("DATA/lower.jpg", "");
    const std::string absolute = Dir().string() + "/DATA/LOWER.JPG";
    EXPECT_EQ(ResolvePath(AnsiString(absolute)), Dir() / "DATA/lower.jpg");
}

TEST_F(ResolveChangesTest, FollowsTheFolderAsItChanges) {
    fs::create_directory("DATA");
    test::WriteFile("DATA/first.jpg", "");
    ASSERT_TRUE(ResolvePath(".\\DATA\\FIRST.JPG"));
    EXPECT_FALSE(ResolvePath(".\\DATA\\LATER.JPG"));

    test::WriteFile("DATA/later.jpg", "");
    EXPECT_EQ(ResolvePath(".\\DATA\\LATER.JPG"), fs::path("./DATA/later.jpg"));

    fs::remove("DATA/first.jpg");
    EXPECT_FALSE(ResolvePath(".\\DATA\\FIRST.JPG"));

    fs::rename("DATA/later.jpg", "DATA/Later.jpg");
    EXPECT_EQ(ResolvePath(".\\DATA\\LATER.JPG"), fs::path("./DATA/Later.jpg"));
}

// A folder last changed long ago is trusted to show that a name is absent; its stamp alone must
// then reveal every change.
TEST_F(ResolveChangesTest, NoticesChangesToAFolderListedLongAfterItsLastChange) {
    const auto backdate = [] {
        fs::last_write_time("DATA", fs::file_time_type::clock::now() - std::chrono::hours(1));
    };
    fs::create_directory("DATA");
    test::WriteFile("DATA/first.jpg", "");
    backdate();
    ASSERT_TRUE(ResolvePath(".\\DATA\\FIRST.JPG"));
    EXPECT_FALSE(ResolvePath(".\\DATA\\LATER.JPG"));

    test::WriteFile("DATA/later.jpg", "");
    EXPECT_EQ(ResolvePath(".\\DATA\\LATER.JPG"), fs::path("./DATA/later.jpg"));

    backdate();
    ASSERT_TRUE(ResolvePath(".\\DATA\\LATER.JPG"));
    fs::rename("DATA/later.jpg", "DATA/Later2.jpg");
    EXPECT_FALSE(ResolvePath(".\\DATA\\LATER.JPG"));
    EXPECT_EQ(ResolvePath(".\\DATA\\LATER2.JPG"), fs::path("./DATA/Later2.jpg"));
}

TEST_F(ResolveChangesTest, StaysRightWhenMoreFoldersAreSearchedThanItRemembers) {
    constexpr int Folders = 80;
    // The numbers are named: GCC 12 warns falsely (-Wrestrict) of a literal added to a temporary.
    for (int i = 0; i < Folders; ++i) {
        const std::string number = std::to_string(i);
        fs::create_directory("f" + number);
        test::WriteFile("f" + number + "/n" + number + ".jpg", "");
    }
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < Folders; ++i) {
            const std::string number = std::to_string(i);
            const std::string folder = "f" + number;
            const std::string name = "n" + number + ".jpg";
            EXPECT_EQ(
                ResolvePath(AnsiString(".\\" + folder + "\\" + AnsiString(name).UpperCase().str())),
                fs::path(".") / folder / name);
        }
    }
}

TEST_F(ResolveChangesTest, ThreadsResolveConcurrently) {
    constexpr int Files = 40;
    fs::create_directory("DATA");
    for (int i = 0; i < Files; ++i)
        test::WriteFile("DATA/p" + std::to_string(i) + ".jpg", "");
    std::atomic<int> failures = 0;
    std::vector<std::jthread> workers;
    for (int worker = 0; worker < 4; ++worker) {
        workers.emplace_back([&failures, worker] {
            for (int i = 0; i < Files; ++i) {
                const std::string name = "p" + std::to_string((i + worker * 7) % Files) + ".jpg";
                const auto resolved =
                    ResolvePath(AnsiString(".\\DATA\\" + AnsiString(name).UpperCase().str()));
                if (resolved != fs::path("./DATA") / name)
                    ++failures;
            }
        });
    }
    workers.clear();
    EXPECT_EQ(failures, 0);
}

// ---- TFileStream -------------------------------------------------------------------------------

class FileStreamTest : public test::TempCurrentDir {};

TEST_F(FileStreamTest, ReadsTheBytesOfAFileFoundByItsUpperCasedName) {
    fs::create_directory("DATA");
    test::WriteFile("DATA/pic.jpg", "BMxyz");
    TFileStream stream(".\\DATA\\PIC.JPG", fmOpenRead);
    EXPECT_EQ(stream.Size(), 5);
    char buffer[16] = {};
    ASSERT_EQ(stream.Read(buffer, 2), 2);
    EXPECT_EQ(std::string(buffer, 2), "BM");
    ASSERT_EQ(stream.Read(buffer, sizeof buffer), 3);
    EXPECT_EQ(std::string(buffer, 3), "xyz");
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 0);
}

struct RefusalCase {
    const char* name;
    const char* path;
    const char* cause;
};

void PrintTo(const RefusalCase& row, std::ostream* os) {
    *os << row.name;
}

class FileStreamRefusalTest : public test::TempCurrentDir,
                              public ::testing::WithParamInterface<RefusalCase> {};

// A FIFO without a writer would block an ordinary open for ever; the test's timeout would show it.
TEST_P(FileStreamRefusalTest, ThrowsNamingTheFileAndTheCause) {
    fs::create_directories("DATA/sub");
    MakeFifo("DATA/pipe.jpg");
    fs::create_symlink("nowhere", "DATA/dangling.jpg");
    try {
        TFileStream stream(GetParam().path, fmOpenRead);
        FAIL() << "opened";
    } catch (const EFOpenError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot open file \"" + std::string(GetParam().path) + "\": " + GetParam().cause);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FileStreamRefusalTest,
    ::testing::Values(RefusalCase{"Missing", ".\\DATA\\NONE.JPG", "No such file or directory"},
                      RefusalCase{"MissingFolder", ".\\NODATA\\A.JPG", "No such file or directory"},
                      RefusalCase{"DanglingLink", ".\\DATA\\DANGLING.JPG",
                                  "No such file or directory"},
                      RefusalCase{"Folder", ".\\DATA\\SUB", "not a regular file"},
                      RefusalCase{"Fifo", ".\\DATA\\PIPE.JPG", "not a regular file"},
                      RefusalCase{"Device", "/dev/null", "not a regular file"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(FileStreamTest, PermissionDeniedNamesTheFile) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may read any file";
    test::WriteFile("secret.jpg", "x");
    fs::permissions("secret.jpg", fs::perms::none);
    EXPECT_THROW(
        {
            try {
                TFileStream stream(".\\SECRET.JPG", fmOpenRead);
            } catch (const EFOpenError& error) {
                EXPECT_STREQ(error.what(), "Cannot open file \".\\SECRET.JPG\": Permission denied");
                throw;
            }
        },
        EFOpenError);
}

} // namespace
