// x11drive: the window driver for shell scripts (the demo), on the display named by $DISPLAY.
//
//   x11drive window TITLE PID SECONDS         waits for the window; prints "ID X Y WIDTH HEIGHT"
//   x11drive click X Y                        clicks at a screen point
//   x11drive click-and-wait X Y AX AY AW AH SECONDS
//                                             clicks, then waits until area A has changed and
//                                             then stood still
//   x11drive shot AX AY AW AH FILE.png        saves area A of the screen as a PNG
//   x11drive close ID                         asks the window to close, as its close box would
//
// Exit codes: 0 done, 1 not within the time given, 2 bad arguments or X failure.

#include "tools/x11_driver.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr int ExitDone = 0;
constexpr int ExitTimedOut = 1;
constexpr int ExitFailed = 2;

class Arguments {
public:
    Arguments(int argc, char** argv) : m_values(argv + 1, argv + argc) {}
    std::size_t Count() const { return m_values.size(); }
    const std::string& Text(std::size_t index) const {
        if (index >= m_values.size())
            throw std::invalid_argument("missing argument " + std::to_string(index));
        return m_values[index];
    }
    long Number(std::size_t index) const {
        const std::string& text = Text(index);
        std::size_t used = 0;
        const long value = std::stol(text, &used, 0);
        if (used != text.size())
            throw std::invalid_argument("not a number: " + text);
        return value;
    }
    int Int(std::size_t index) const { return static_cast<int>(Number(index)); }
    x11::Rect Area(std::size_t first) const {
        return {Int(first), Int(first + 1), Int(first + 2), Int(first + 3)};
    }
    std::chrono::milliseconds Seconds(std::size_t index) const {
        return std::chrono::seconds(Number(index));
    }

private:
    std::vector<std::string> m_values;
};

int FindWindow(x11::Display& display, const Arguments& args) {
    const auto window =
        display.WaitForWindow(args.Text(1), static_cast<pid_t>(args.Number(2)), args.Seconds(3));
    if (!window)
        return ExitTimedOut;
    const x11::Rect client = display.ClientArea(*window);
    std::cout << *window << ' ' << client.x << ' ' << client.y << ' ' << client.width << ' '
              << client.height << '\n';
    return ExitDone;
}

int ClickAndWait(x11::Display& display, const Arguments& args) {
    const x11::Point at{args.Int(1), args.Int(2)};
    const x11::Rect area = args.Area(3);
    const auto deadline = std::chrono::steady_clock::now() + args.Seconds(7);
    const x11::Picture before = display.Grab(area);
    display.Click(at);
    // A fill on the UI thread repaints only at its end, so first wait for any change at all.
    while (display.Grab(area) == before) {
        if (std::chrono::steady_clock::now() >= deadline)
            return ExitTimedOut;
        std::this_thread::sleep_for(30ms);
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return x11::WaitForStill(display, area, 800ms, std::max(left, 0ms)) ? ExitDone : ExitTimedOut;
}

int Run(const Arguments& args) {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0')
        throw std::runtime_error("DISPLAY is not set");
    x11::Display display(name);
    const std::string& command = args.Text(0);
    if (command == "window")
        return FindWindow(display, args);
    if (command == "click") {
        display.Click({args.Int(1), args.Int(2)});
        return ExitDone;
    }
    if (command == "click-and-wait")
        return ClickAndWait(display, args);
    if (command == "shot") {
        display.Grab(args.Area(1)).SavePng(args.Text(5));
        return ExitDone;
    }
    if (command == "close") {
        display.RequestClose(static_cast<x11::WindowId>(args.Number(1)));
        return ExitDone;
    }
    throw std::invalid_argument("unknown command " + command);
}

} // namespace

int main(int argc, char** argv) {
    try {
        return Run(Arguments(argc, argv));
    } catch (const std::exception& error) {
        std::cerr << "x11drive: " << error.what() << '\n';
        return ExitFailed;
    }
}
