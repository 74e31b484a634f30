// The real programs, started as a person starts them, in a virtual X display: what the window
// shows, what the buttons do, and how the program ends. Everything is judged from screen pixels
// and the exit code.

#include "tests/support/picture_files.h"
#include "tests/support/reduction_reference.h"
#include "tests/support/stored_layout.h"
#include "tools/x11_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr x11::Rect OnScreen(test::layout::TBounds bounds) {
    return {bounds.left, bounds.top, bounds.width, bounds.height};
}

constexpr x11::Rect ClientSize = OnScreen(test::layout::Client);
constexpr x11::Rect Gallery = OnScreen(test::layout::ListView1);
constexpr x11::Rect Button1 = OnScreen(test::layout::Button1);
constexpr x11::Rect Button2 = OnScreen(test::layout::Button2);
// Plain form: right of the gallery, under the buttons.
constexpr x11::Rect PlainForm{170, 120, 70, 340};
constexpr int ThumbWidth = 100;
constexpr int ThumbHeight = 110;

constexpr x11::Rgb Red{200, 30, 40};
constexpr x11::Rgb Blue{20, 60, 210};
constexpr x11::Rgb Green{40, 170, 60};

void ExpectRectNear(const x11::Rect& actual, int width, int height, int tolerance) {
    EXPECT_NEAR(actual.width, width, tolerance);
    EXPECT_NEAR(actual.height, height, tolerance);
}

test::Rgb ToTest(x11::Rgb colour) {
    return {colour.r, colour.g, colour.b};
}

struct Program {
    const char* name;
    const char* path;
    bool hasButton2;
};

void PrintTo(const Program& program, std::ostream* os) {
    *os << program.name;
}

const Program Ombrel{"Ombrel", OMBREL_PROGRAM_Ombrel, false};
const Program OmbrelMT{"OmbrelMT", OMBREL_PROGRAM_OmbrelMT, true};

class EndToEnd : public test::TempCurrentDir {
protected:
    void SetUp() override {
        TempCurrentDir::SetUp();
        const auto xvfb = x11::FindOnPath("Xvfb");
        if (!xvfb)
            GTEST_SKIP() << "Xvfb is not installed (tools/install-deps.sh installs it)";
        m_server = std::make_unique<x11::VirtualDisplay>(*xvfb);
        m_display = std::make_unique<x11::Display>(m_server->Name());
        fs::create_directory("DATA");
    }

    void TearDown() override {
        m_program.reset();
        m_display.reset();
        m_server.reset();
        TempCurrentDir::TearDown();
    }

    // Starts the program in the current folder; true once its window is up and drawn.
    bool Start(const Program& program) {
        x11::Launch launch;
        launch.program = program.path;
        launch.environment = {{"DISPLAY", m_server->Name()}, {"QT_QPA_PLATFORM", "xcb"}};
        if (m_scale != 1)
            launch.environment["QT_SCALE_FACTOR"] = std::to_string(m_scale);
        launch.workingDir = fs::current_path();
        launch.addressSpaceBytes = m_addressSpaceBytes;
        m_program = std::make_unique<x11::Process>(launch);
        const auto window = m_display->WaitForWindow("Form1", m_program->Id(), 15s);
        if (!window)
            return false;
        m_window = *window;
        m_client = m_display->ClientArea(m_window);
        // Drawn: the form has its face colour and stands still.
        return x11::WaitForStill(*m_display, m_client, 300ms, 10s).has_value();
    }

    x11::Picture Shot() { return m_display->Grab(m_client); }
    x11::Picture GalleryShot() { return m_display->Grab(Gallery.Offset({m_client.x, m_client.y})); }

    void Press(const x11::Rect& button) {
        const x11::Point centre = button.Centre();
        m_display->Click({m_client.x + centre.x, m_client.y + centre.y});
    }

    // Polls the gallery until done holds for it; the last picture of it.
    x11::Picture WaitForGallery(const std::function<bool(const x11::Picture&)>& done,
                                std::chrono::milliseconds timeout = 20s) {
        const auto deadline = Clock::now() + timeout;
        x11::Picture gallery = GalleryShot();
        while (!done(gallery) && Clock::now() < deadline) {
            std::this_thread::sleep_for(20ms);
            gallery = GalleryShot();
        }
        return gallery;
    }

    std::optional<int> CloseWindow(std::chrono::milliseconds timeout) {
        m_display->RequestClose(m_window);
        return m_program->Wait(timeout);
    }

    // Any window of the program but the main one: a message box.
    std::optional<x11::WindowId> OtherWindow() {
        for (const x11::WindowId window : m_display->Windows(m_program->Id()))
            if (window != m_window)
                return window;
        return std::nullopt;
    }

    // The display's scale factor: the layout's sizes are logical pixels, the screen's these times
    // as many.
    double m_scale = 1;
    std::uint64_t m_addressSpaceBytes = 0;
    std::unique_ptr<x11::VirtualDisplay> m_server;
    std::unique_ptr<x11::Display> m_display;
    std::unique_ptr<x11::Process> m_program;
    x11::WindowId m_window = 0;
    x11::Rect m_client;
};

// The thumbnails of one colour in a gallery picture, counted down the column through the first.
int CountThumbnails(const x11::Picture& gallery, x11::Rgb colour, int tolerance) {
    const auto bounds = gallery.BoundsOf(colour, tolerance);
    if (!bounds)
        return 0;
    const int column = bounds->x + bounds->width / 2;
    int count = 0;
    int run = 0;
    for (int y = 0; y <= gallery.Height(); ++y) {
        if (y < gallery.Height() && x11::Near(gallery.At(column, y), colour, tolerance)) {
            ++run;
            continue;
        }
        // Only whole thumbnails: a part scrolled out of sight does not count.
        if (run >= ThumbHeight - 4)
            ++count;
        run = 0;
    }
    return count;
}

class EachProgram : public EndToEnd, public ::testing::WithParamInterface<Program> {};

TEST_P(EachProgram, ShowsForm1CentredWithItsLayoutAndEndsWithZeroWhenClosed) {
    ASSERT_TRUE(Start(GetParam()));
    EXPECT_EQ(m_display->Title(m_window), "Form1");
    EXPECT_EQ(m_client.width, ClientSize.width);
    EXPECT_EQ(m_client.height, ClientSize.height);
    const x11::Rect screen = m_display->Screen();
    // Centred as a framed window would be: a title bar may push the inside down a little.
    EXPECT_NEAR(m_client.Centre().x, screen.Centre().x, 8);
    EXPECT_NEAR(m_client.Centre().y, screen.Centre().y, 30);

    const x11::Picture shot = Shot();
    const x11::Rgb face = shot.At(PlainForm.x, PlainForm.y);
    EXPECT_EQ(shot.CountDiffering(PlainForm, face), 0) << "the form under the buttons is plain";
    EXPECT_GT(shot.CountDiffering(Button1, face), 200) << "Button1 is drawn where it belongs";
    EXPECT_GT(shot.CountDiffering(Gallery, face), Gallery.width * Gallery.height / 2)
        << "the gallery has its own background";
    // The gaps around Button1 stay plain, so it is not drawn somewhere nearby instead.
    EXPECT_EQ(shot.CountDiffering({Button1.x, 2, Button1.width, Button1.y - 4}, face), 0);
    EXPECT_EQ(shot.CountDiffering({Button1.x + Button1.width + 3, 2, 6, 100}, face), 0);
    EXPECT_EQ(
        shot.CountDiffering({Button1.x, Button1.y + Button1.height + 3, Button1.width, 10}, face),
        0);
    const int button2Ink = shot.CountDiffering(Button2, face);
    if (GetParam().hasButton2)
        EXPECT_GT(button2Ink, 200) << "Button2 is drawn where it belongs";
    else
        EXPECT_EQ(button2Ink, 0) << "this program has no Button2";

    EXPECT_EQ(CloseWindow(5s), std::optional<int>(0));
}

TEST_P(EachProgram, Button1ShowsAThumbnailOfEachPictureInData) {
    test::WriteBmp("DATA/Red.bmp", 40, 30, ToTest(Red));
    test::WriteJpeg("DATA/BLUE.JPG", 300, 200, ToTest(Blue));
    test::WriteJpeg("DATA/green.jpeg", 90, 400, ToTest(Green));
    test::WriteFile("DATA/notes.txt", "not a picture");
    ASSERT_TRUE(Start(GetParam()));
    const x11::Picture empty = GalleryShot();
    EXPECT_FALSE(empty.BoundsOf(Red, 12)) << "nothing is shown before a button is pressed";

    Press(Button1);
    const x11::Picture gallery = WaitForGallery([](const x11::Picture& shot) {
        return CountThumbnails(shot, Red, 12) == 1 && CountThumbnails(shot, Blue, 40) == 1 &&
               CountThumbnails(shot, Green, 40) == 1;
    });
    // Whole pictures stretched to the thumbnail, whatever their shape.
    for (const auto& [colour, tolerance] : {std::pair{Red, 12}, {Blue, 40}, {Green, 40}}) {
        const auto bounds = gallery.BoundsOf(colour, tolerance);
        ASSERT_TRUE(bounds) << "a thumbnail of each picture";
        ExpectRectNear(*bounds, ThumbWidth, ThumbHeight, 2);
    }
    EXPECT_EQ(CloseWindow(5s), std::optional<int>(0));
}

TEST_P(EachProgram, AnUnreadablePictureIsReportedAndTheItemsBeforeItStay) {
    test::WriteBmp("DATA/A.BMP", 50, 50, ToTest(Red));
    test::WriteFile("DATA/B.BMP", "BM this file ends long before its pixels");
    ASSERT_TRUE(Start(GetParam()));

    Press(GetParam().hasButton2 ? Button2 : Button1);
    std::optional<x11::WindowId> box;
    const auto deadline = Clock::now() + 15s;
    while (!box && Clock::now() < deadline) {
        box = OtherWindow();
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(box) << "the error is shown in a window of its own";
    m_display->RequestClose(*box);

    const x11::Picture gallery = WaitForGallery(
        [](const x11::Picture& shot) { return CountThumbnails(shot, Red, 12) == 1; });
    EXPECT_EQ(CountThumbnails(gallery, Red, 12), 1);
    EXPECT_TRUE(m_program->Running()) << "the program goes on after the error";
    EXPECT_EQ(CloseWindow(5s), std::optional<int>(0));
}

// A progressive JPEG picture of 48 megapixels under `ulimit -v 160000`: its decode needs the
// coefficients of the whole picture, about 144 MB, memory runs out, and the box says so.
TEST_F(EndToEnd, APictureThatMemoryCannotHoldIsReportedByNameAndCause) {
    test::WriteJpeg(
        "DATA/BIG.JPG", 8000, 6000,
        [](int x, int y) {
            return test::Rgb{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 90};
        },
        {.quality = 50, .progressive = true});
    m_addressSpaceBytes = std::uint64_t{160000} * 1024;
    ASSERT_TRUE(Start(OmbrelMT)) << "the program starts under the limit";
    Press(Button2);
    std::optional<x11::WindowId> box;
    const auto deadline = Clock::now() + 30s;
    while (!box && Clock::now() < deadline && m_program->Running()) {
        box = OtherWindow();
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(box) << "the error is shown in a window of its own";
    // The words are not readable from the screen; their width is. At this font a box with no text
    // is about 110 pixels wide and one saying "Out of memory" about 160; one that also names the
    // file is about 380.
    const x11::Rect area = m_display->ClientArea(*box);
    RecordProperty("box_width", area.width);
    EXPECT_GT(area.width, 300) << "the box shows a message of a few words at most";
    m_display->RequestClose(*box);
    EXPECT_EQ(CloseWindow(5s), std::optional<int>(0));
}

// --- On a high-density display ---

// A rectangle of the layout in the screen's pixels at scale.
x11::Rect Scaled(const x11::Rect& rect, double scale) {
    const auto side = [scale](int length) {
        return static_cast<int>(std::lround(length * scale));
    };
    return {side(rect.x), side(rect.y), side(rect.x + rect.width) - side(rect.x),
            side(rect.y + rect.height) - side(rect.y)};
}

constexpr x11::Rgb Magenta{230, 20, 230};
constexpr int DetailWidth = 12 * ThumbWidth;
constexpr int DetailHeight = 12 * ThumbHeight;

// Cells of 9 by 11 pixels in colours of their own, in a magenta frame, twelve times the thumbnail's
// size: hard edges everywhere, as photographs have, and detail that a thumbnail of 100 by 110
// pixels cannot show but one at the display's density can.
test::Rgb Detail(int x, int y) {
    constexpr int Frame = 48;
    if (x < Frame || y < Frame || x >= DetailWidth - Frame || y >= DetailHeight - Frame)
        return ToTest(Magenta);
    auto hash = static_cast<unsigned>(x / 9 * 7919 + y / 11 * 104729);
    hash = (hash ^ (hash >> 16)) * 0x7FEB352DU;
    hash = (hash ^ (hash >> 15)) * 0x846CA68BU;
    hash ^= hash >> 16;
    return {static_cast<std::uint8_t>(hash), static_cast<std::uint8_t>(hash >> 8),
            static_cast<std::uint8_t>(hash >> 16)};
}

// The PSNR of the first thumbnail read back from the screen against the picture reduced to its
// size there, in dB.
double ThumbnailSharpness(const x11::Picture& gallery) {
    const auto frame = gallery.BoundsOf(Magenta, 40);
    if (!frame)
        return 0;
    const x11::Picture shown = gallery.Crop(*frame);
    std::vector<std::uint8_t> pixels;
    for (int y = 0; y < DetailHeight; ++y) {
        for (int x = 0; x < DetailWidth; ++x) {
            const test::Rgb colour = Detail(x, y);
            pixels.insert(pixels.end(), {colour.r, colour.g, colour.b});
        }
    }
    const TConstRgbRows picture{pixels.data(), DetailWidth * 3, DetailWidth, DetailHeight};
    double squares = 0;
    for (int channel = 0; channel < 3; ++channel) {
        const std::vector<double> reference =
            test::LanczosReduce(picture, shown.Width(), shown.Height(), channel);
        for (int y = 0; y < shown.Height(); ++y) {
            for (int x = 0; x < shown.Width(); ++x) {
                const x11::Rgb colour = shown.At(x, y);
                const std::uint8_t value =
                    channel == 0 ? colour.r : (channel == 1 ? colour.g : colour.b);
                const double error =
                    value - std::clamp(reference[static_cast<std::size_t>(y) *
                                                     static_cast<std::size_t>(shown.Width()) +
                                                 static_cast<std::size_t>(x)],
                                       0.0, 255.0);
                squares += error * error;
            }
        }
    }
    const double mean = squares / (3.0 * shown.Width() * shown.Height());
    return 10 * std::log10(255.0 * 255.0 / std::max(mean, 1e-9));
}

TEST_P(EachProgram, AtScaleTwoShowsItsLayoutAndSharpThumbnails) {
    m_scale = 2;
    test::WriteBmp("DATA/DETAIL.BMP", DetailWidth, DetailHeight, Detail);
    ASSERT_TRUE(Start(GetParam()));
    EXPECT_EQ(m_client.width, 2 * ClientSize.width);
    EXPECT_EQ(m_client.height, 2 * ClientSize.height);
    const x11::Picture shot = Shot();
    const x11::Rect plain = Scaled(PlainForm, 2);
    const x11::Rgb face = shot.At(plain.x, plain.y);
    EXPECT_EQ(shot.CountDiffering(plain, face), 0);
    EXPECT_GT(shot.CountDiffering(Scaled(Button1, 2), face), 800) << "Button1, twice as large";
    EXPECT_EQ(shot.CountDiffering(Scaled(Button2, 2), face) > 800, GetParam().hasButton2);

    Press(Scaled(Button1, 2));
    const x11::Rect gallery = Scaled(Gallery, 2).Offset({m_client.x, m_client.y});
    const auto deadline = Clock::now() + 20s;
    std::optional<x11::Rect> frame;
    x11::Picture shown;
    while (!frame && Clock::now() < deadline) {
        shown = m_display->Grab(gallery);
        frame = shown.BoundsOf(Magenta, 40);
    }
    ASSERT_TRUE(frame) << "the thumbnail is shown";
    ExpectRectNear(*frame, 2 * ThumbWidth, 2 * ThumbHeight, 2);
    const double sharpness = ThumbnailSharpness(shown);
    RecordProperty("psnr_scale_2", std::to_string(sharpness));
    EXPECT_GT(sharpness, 35) << "the thumbnail holds the display's pixels";
    EXPECT_EQ(CloseWindow(5s), std::optional<int>(0));
}

class AtScale : public EndToEnd, public ::testing::WithParamInterface<double> {
protected:
    // The sharpness of the thumbnail of the detailed picture, shown by OmbrelMT at m_scale.
    double ShownSharpness() {
        if (!Start(OmbrelMT))
            return 0;
        Press(Scaled(Button1, m_scale));
        const x11::Rect gallery = Scaled(Gallery, m_scale).Offset({m_client.x, m_client.y});
        const auto deadline = Clock::now() + 20s;
        x11::Picture shown = m_display->Grab(gallery);
        while (!shown.BoundsOf(Magenta, 40) && Clock::now() < deadline)
            shown = m_display->Grab(gallery);
        const double sharpness = ThumbnailSharpness(shown);
        EXPECT_EQ(CloseWindow(5s), std::optional<int>(0));
        m_program.reset();
        return sharpness;
    }
};

// The same comparison, at the display's density and at scale 1: within 4 dB of each other.
TEST_P(AtScale, ThumbnailsAreAsSharpAsAtScaleOne) {
    test::WriteBmp("DATA/DETAIL.BMP", DetailWidth, DetailHeight, Detail);
    const double atOne = ShownSharpness();
    m_scale = GetParam();
    const double atScale = ShownSharpness();
    RecordProperty("psnr_scale_1", std::to_string(atOne));
    RecordProperty("psnr_at_scale", std::to_string(atScale));
    EXPECT_GT(atOne, 35);
    EXPECT_GE(atScale, atOne - 4) << "at scale 1: " << atOne << " dB";
}

INSTANTIATE_TEST_SUITE_P(, AtScale, ::testing::Values(1.5, 2.0), [](const auto& row) {
    return row.param == 1.5 ? std::string("OneAndAHalf") : std::string("Two");
});

INSTANTIATE_TEST_SUITE_P(, EachProgram, ::testing::Values(Ombrel, OmbrelMT),
                         [](const auto& row) { return std::string(row.param.name); });

// Many pictures that take a while to decode, so that a worker's fill can be watched and cut short.
class WorkerFill : public EndToEnd {
protected:
    void WritePictures(int count) {
        // Fine detail costs the decoder time, yet the thumbnail comes out one colour.
        test::WriteJpeg("first.jpg", 1200, 900, [](int x, int y) {
            const int grain = ((x * 7 + y * 13) % 5) - 2;
            return test::Rgb{static_cast<std::uint8_t>(Green.r + grain),
                             static_cast<std::uint8_t>(Green.g + grain),
                             static_cast<std::uint8_t>(Green.b + grain)};
        });
        for (int i = 0; i < count; ++i)
            fs::copy_file("first.jpg", "DATA/P" + std::to_string(1000 + i) + ".jpg");
    }

    // Presses Button2 and watches the gallery until it stands still: each picture of it that
    // differed from the one before, the last one still.
    std::vector<x11::Picture> WatchFill() {
        std::vector<x11::Picture> frames{GalleryShot()};
        Press(Button2);
        auto lastChange = Clock::now();
        const auto deadline = lastChange + 30s;
        while (Clock::now() - lastChange < 1500ms && Clock::now() < deadline) {
            x11::Picture now = GalleryShot();
            if (now == frames.back()) {
                std::this_thread::sleep_for(2ms);
                continue;
            }
            frames.push_back(std::move(now));
            lastChange = Clock::now();
        }
        return frames;
    }
};

// The gallery's right edge, where its scroll bar shows how many items it holds.
x11::Picture ScrollBar(const x11::Picture& gallery) {
    return gallery.Crop({gallery.Width() - 16, 0, 16, gallery.Height()});
}

TEST_F(WorkerFill, Button2AddsThumbnailsOneByOneWhileTheWindowRepaints) {
    WritePictures(60);
    ASSERT_TRUE(Start(OmbrelMT));
    const std::vector<x11::Picture> frames = WatchFill();
    EXPECT_GE(CountThumbnails(frames.back(), Green, 24), 3)
        << "the gallery's height holds three whole thumbnails";
    // Only three thumbnails fit, but the scroll bar keeps growing its range as items arrive.
    int scrollRanges = 0;
    for (std::size_t i = 1; i < frames.size(); ++i)
        if (ScrollBar(frames[i]) != ScrollBar(frames[i - 1]))
            ++scrollRanges;
    EXPECT_GE(scrollRanges, 3) << "of " << frames.size() - 1
                               << " repaints during the fill, too few showed more items: they "
                                  "did not appear one by one while the window repainted";
    EXPECT_EQ(CloseWindow(5s), std::optional<int>(0));
}

TEST_F(WorkerFill, ThumbnailsStayOnScreenWhileMoreAreAdded) {
    WritePictures(60);
    ASSERT_TRUE(Start(OmbrelMT));
    const std::vector<x11::Picture> frames = WatchFill();
    std::vector<int> counts;
    int dropped = 0;
    for (const x11::Picture& frame : frames) {
        counts.push_back(CountThumbnails(frame, Green, 24));
        if (counts.size() > 1 && counts.back() < *std::max_element(counts.begin(), counts.end()))
            ++dropped;
    }
    EXPECT_EQ(dropped, 0) << "the gallery flickers: whole thumbnails seen in the repaints "
                          << ::testing::PrintToString(counts);
    EXPECT_EQ(CloseWindow(5s), std::optional<int>(0));
}

TEST_F(WorkerFill, ClosingTheWindowMidFillEndsWithZeroWithinTwoSeconds) {
    // Far more than the fill can load before the window is closed.
    WritePictures(300);
    ASSERT_TRUE(Start(OmbrelMT));
    Press(Button2);
    WaitForGallery([](const x11::Picture& shot) { return CountThumbnails(shot, Green, 24) >= 1; });
    const auto closing = Clock::now();
    EXPECT_EQ(CloseWindow(2s), std::optional<int>(0));
    EXPECT_LT(Clock::now() - closing, 2s);
}

// Ten workers, each inside a 144 MB bitmap or waiting for memory to decode one, when the window
// closes: the decodes stop at their next rows, and nothing is shown on the way out.
TEST_F(WorkerFill, ClosingWithTenWorkersInsideLargeBitmapsEndsAtOnceWithZeroAndNoBox) {
    test::WriteBmp("big.bmp", 8000, 6000, ToTest(Green));
    for (int i = 0; i < 12; ++i)
        fs::create_hard_link("big.bmp", "DATA/B" + std::to_string(10 + i) + ".BMP");
    ASSERT_TRUE(Start(OmbrelMT));
    for (int i = 0; i < 10; ++i)
        Press(Button2);
    WaitForGallery([](const x11::Picture& shot) { return CountThumbnails(shot, Green, 24) >= 1; });
    const auto closing = Clock::now();
    m_display->RequestClose(m_window);
    std::optional<int> code;
    bool boxShown = false;
    while (!(code = m_program->Wait(0ms)) && Clock::now() - closing < 10s) {
        boxShown = boxShown || OtherWindow().has_value();
        std::this_thread::sleep_for(2ms);
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - closing);
    RecordProperty("close_to_exit_ms", static_cast<int>(took.count()));
    EXPECT_EQ(code, std::optional<int>(0));
    EXPECT_FALSE(boxShown);
    // A deadline that catches a decode left to run to its end, not a speed target.
    EXPECT_LT(took, 2s) << "from the close to the end of the process";
}

} // namespace
