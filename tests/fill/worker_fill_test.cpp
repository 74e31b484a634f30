#include "platform/core/thread_p.h"
#include "tests/fill/fill_fixture.h"
#include "tests/support/controls.h"

#include <algorithm>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

class WorkerFillTest : public test::FillTest {
protected:
    bool WaitForWorkers() {
        return test::WaitUntil([] { return LiveThreadCount() == 0; }, [this] { PumpMessages(); });
    }
    std::vector<std::string> Names(int count) {
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "P%03d.BMP", i);
            names.push_back(name);
        }
        return names;
    }
    void AddPictures(int count) {
        for (int i = 0; i < count; ++i)
            AddPicture(Names(count)[static_cast<std::size_t>(i)], i);
    }
};

TEST_F(WorkerFillTest, GivesTheSameGalleryAsTheForegroundFill) {
    AddPicture("b.jpg", 1);
    AddPicture("a.bmp", 0);
    fs::create_directories("DATA/folder.bmp");
    AddPicture("c.jpeg", 2);
    test::Click(Form().Button1);
    const std::vector<std::string> foreground = Captions();
    test::Click(Form().Button2);
    ASSERT_TRUE(WaitForWorkers());
    EXPECT_EQ(Captions(), foreground);
    EXPECT_EQ(ImageIndices(), (std::vector<int>{0, 1, 2}));
    for (int k = 0; k < 3; ++k)
        EXPECT_TRUE(Near(ImageCentre(k), Colour(k))) << "item " << k;
}

TEST_F(WorkerFillTest, ItemsArriveOneByOneWhileTheWindowKeepsWorking) {
    AddPictures(40);
    test::Click(Form().Button2);
    // The handler returned at once; items then arrive while this thread serves events.
    std::vector<int> countsSeen;
    ASSERT_TRUE(test::WaitUntil([&] { return LiveThreadCount() == 0; },
                                [&] {
                                    PumpMessages();
                                    if (countsSeen.empty() ||
                                        countsSeen.back() != Form().ListView1->Items()->Count())
                                        countsSeen.push_back(Form().ListView1->Items()->Count());
                                }));
    EXPECT_EQ(Captions(), Names(40));
    EXPECT_GT(countsSeen.size(), 2U) << "the gallery grew in one step";
    EXPECT_TRUE(std::is_sorted(countsSeen.begin(), countsSeen.end()));
}

TEST_F(WorkerFillTest, AFailingFileStopsTheWorkerAndIsShownOnce) {
    AddPicture("a.bmp", 0);
    test::WriteFile("DATA/b.jpg", "\xFF\xD8 not a JPEG after all");
    AddPicture("c.bmp", 2);
    test::Click(Form().Button2);
    ASSERT_TRUE(WaitForWorkers());
    ASSERT_TRUE(
        test::WaitUntil([] { return !test::ShownMessages().empty(); }, [this] { PumpMessages(); }));
    PumpMessages();
    EXPECT_EQ(Captions(), std::vector<std::string>{"A.BMP"});
    ASSERT_EQ(test::ShownMessages().size(), 1U);
    EXPECT_NE(test::ShownMessages()[0].find(".\\DATA\\B.JPG"), std::string::npos);
}

TEST_F(WorkerFillTest, AMissingDataFolderEmptiesTheGallery) {
    AddPicture("a.bmp", 0);
    test::Click(Form().Button1);
    fs::remove_all("DATA");
    test::Click(Form().Button2);
    ASSERT_TRUE(WaitForWorkers());
    EXPECT_TRUE(Captions().empty());
    EXPECT_EQ(ImageCount(), 0);
}

TEST_F(WorkerFillTest, Button1DuringAWorkerRunsFirstAndTheWorkerAppendsTheRest) {
    AddPictures(30);
    test::Click(Form().Button2);
    ASSERT_TRUE(test::WaitUntil([&] { return Form().ListView1->Items()->Count() >= 3; },
                                [this] { PumpMessages(); }));
    test::Click(Form().Button1); // the worker waits at its next hand-off meanwhile
    ASSERT_TRUE(WaitForWorkers());
    const std::vector<std::string> all = Names(30);
    const std::vector<std::string> captions = Captions();
    ASSERT_GE(captions.size(), all.size());
    EXPECT_TRUE(std::equal(all.begin(), all.end(), captions.begin()));
    // What follows is the rest of the worker's list, in order.
    const std::vector<std::string> rest(captions.begin() + 30, captions.end());
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), all.end() - static_cast<long>(rest.size())));
    EXPECT_EQ(ImageCount(), static_cast<int>(captions.size()));
}

TEST_F(WorkerFillTest, TenPressesEndWithTheLastWorkersItemsAndNoLeftovers) {
    AddPictures(12);
    for (int i = 0; i < 10; ++i)
        test::Click(Form().Button2);
    ASSERT_TRUE(WaitForWorkers());
    const std::vector<std::string> captions = Captions();
    // Every worker empties the gallery when it starts, so at least the last one's items remain,
    // and never more than all ten lists.
    EXPECT_GE(captions.size(), 12U);
    EXPECT_LE(captions.size(), 120U);
    EXPECT_EQ(ImageCount(), static_cast<int>(captions.size()));
    std::vector<int> indices = ImageIndices();
    for (int k = 0; k < static_cast<int>(indices.size()); ++k)
        ASSERT_EQ(indices[static_cast<std::size_t>(k)], k);
    EXPECT_TRUE(test::ShownMessages().empty());
}

// The window goes while workers are scanning, loading or waiting on the hand-off: closing releases
// them and waits for them, and none touches the form once it is gone. Run after run, the workers
// are caught at different steps.
TEST_F(WorkerFillTest, ClosingTheWindowMidFillReleasesAndWaitsForTheWorkers) {
    static int run = 0;
    AddPictures(6);
    for (int i = 0; i < 3; ++i)
        test::Click(Form().Button2);
    for (int pump = 0; pump < run % 5; ++pump)
        PumpMessages();
    ++run;
    CloseApplication();
    EXPECT_EQ(LiveThreadCount(), 0);
    EXPECT_EQ(test::ShownMessages(), std::vector<std::string>{});
}

} // namespace
