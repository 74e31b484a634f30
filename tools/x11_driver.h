#pragma once

// Drives a real program window on an X display, as a person would: finds the window, looks at its
// pixels, clicks, and asks it to close. Used by the end-to-end tests and by the demo script. Each
// object belongs to one thread.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace x11 {

struct Point {
    int x = 0;
    int y = 0;
};

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    Point Centre() const { return {x + width / 2, y + height / 2}; }
    Rect Offset(Point by) const { return {x + by.x, y + by.y, width, height}; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Whether every channel of a is within tolerance of b's (JPEG and scaling shift colours a little).
bool Near(Rgb a, Rgb b, int tolerance);

// Pixels read back from the screen, row by row from the top left.
class Picture {
public:
    Picture() = default;
    Picture(int width, int height);
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    Rgb At(int x, int y) const { return m_pixels[Index(x, y)]; }
    void Set(int x, int y, Rgb colour) { m_pixels[Index(x, y)] = colour; }
    Picture Crop(const Rect& area) const;
    // The number of pixels in area whose colour is not within tolerance of colour.
    int CountDiffering(const Rect& area, Rgb colour, int tolerance = 0) const;
    // The bounding box of the pixels near colour, or nothing when there is none.
    std::optional<Rect> BoundsOf(Rgb colour, int tolerance) const;
    void SavePng(const std::filesystem::path& path) const;
    friend bool operator==(const Picture&, const Picture&) = default;

private:
    std::size_t Index(int x, int y) const;

    int m_width = 0;
    int m_height = 0;
    std::vector<Rgb> m_pixels;
};

// The path of an executable found on PATH, or nothing.
std::optional<std::filesystem::path> FindOnPath(const std::string& name);

struct Launch {
    std::filesystem::path program;
    std::vector<std::string> arguments;
    // Added to, or replacing, this process's own environment.
    std::map<std::string, std::string> environment;
    std::filesystem::path workingDir;
    // A descriptor the child keeps open across exec (all others opened here are close-on-exec).
    int inheritedFd = -1;
    bool quiet = false;
    // The child's limit of address space (RLIMIT_AS), as `ulimit -v` sets it; none when 0.
    std::uint64_t addressSpaceBytes = 0;
};

// A child process; stopped on destruction if it still runs.
class Process {
public:
    explicit Process(const Launch& launch);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t Id() const { return m_pid; }
    // The exit code once the process ends within timeout; -signal when a signal ended it.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    bool Running();

private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

// An Xvfb server on a display number that it chooses itself, stopped on destruction.
class VirtualDisplay {
public:
    explicit VirtualDisplay(const std::filesystem::path& xvfb, int width = 1280, int height = 1024);
    const std::string& Name() const { return m_name; }

private:
    std::unique_ptr<Process> m_server;
    std::string m_name;
};

using WindowId = unsigned long;

// A connection to an X display. X errors (a window that vanished) become exceptions instead of
// ending the process, as Xlib's default handler would.
class Display {
public:
    explicit Display(const std::string& name);
    ~Display();
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    Rect Screen() const;
    // The viewable windows owned by pid (of any owner when pid is 0), top-level first.
    std::vector<WindowId> Windows(pid_t pid);
    std::optional<WindowId> FindWindow(const std::string& title, pid_t pid);
    std::optional<WindowId> WaitForWindow(const std::string& title, pid_t pid,
                                          std::chrono::milliseconds timeout);
    // The window's inside, in screen coordinates.
    Rect ClientArea(WindowId window);
    std::string Title(WindowId window);
    Picture Grab(const Rect& screenArea);
    void Click(Point screenPoint);
    // What the close box does: asks the window to close, as a window manager would.
    void RequestClose(WindowId window);

private:
    void Check(const char* what);

    struct XDisplayCloser {
        void operator()(void* display) const;
    };
    std::unique_ptr<void, XDisplayCloser> m_display;
};

// Waits until area has stopped changing for quiet; the still picture, or nothing at timeout.
std::optional<Picture> WaitForStill(Display& display, const Rect& area,
                                    std::chrono::milliseconds quiet,
                                    std::chrono::milliseconds timeout);

} // namespace x11
