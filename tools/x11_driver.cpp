#include "tools/x11_driver.h"

#include <QImage>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// Xlib last: its macros (None, Bool, Status) would break the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

extern char** environ;

namespace x11 {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool Near(Rgb a, Rgb b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

Picture::Picture(int width, int height)
    : m_width(width), m_height(height),
      m_pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {}

std::size_t Picture::Index(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        throw std::out_of_range("pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                                ") is outside the picture");
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width) +
           static_cast<std::size_t>(x);
}

Picture Picture::Crop(const Rect& area) const {
    Picture part(area.width, area.height);
    for (int y = 0; y < area.height; ++y)
        for (int x = 0; x < area.width; ++x)
            part.Set(x, y, At(area.x + x, area.y + y));
    return part;
}

int Picture::CountDiffering(const Rect& area, Rgb colour, int tolerance) const {
    int count = 0;
    for (int y = area.y; y < area.y + area.height; ++y)
        for (int x = area.x; x < area.x + area.width; ++x)
            if (!Near(At(x, y), colour, tolerance))
                ++count;
    return count;
}

std::optional<Rect> Picture::BoundsOf(Rgb colour, int tolerance) const {
    int left = m_width;
    int top = m_height;
    int right = -1;
    int bottom = -1;
    for (int y = 0; y < m_height; ++y) {
        for (int x = 0; x < m_width; ++x) {
            if (!Near(At(x, y), colour, tolerance))
                continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    if (right < 0)
        return std::nullopt;
    return Rect{left, top, right - left + 1, bottom - top + 1};
}

void Picture::SavePng(const fs::path& path) const {
    QImage image(m_width, m_height, QImage::Format_RGB32);
    for (int y = 0; y < m_height; ++y) {
        for (int x = 0; x < m_width; ++x) {
            const Rgb colour = At(x, y);
            image.setPixel(x, y, qRgb(colour.r, colour.g, colour.b));
        }
    }
    if (!image.save(QString::fromStdString(path.string()), "PNG", 9))
        throw std::runtime_error("Cannot write picture " + path.string());
}

std::optional<fs::path> FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const fs::path candidate = fs::path(folders.substr(start, end - start)) / name;
        if (end > start && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return std::nullopt;
}

namespace {

// Everything the child needs is built before fork: after it, only async-signal-safe calls.
struct ExecArguments {
    std::vector<std::string> strings;
    std::vector<char*> argv;
    std::vector<std::string> environmentStrings;
    std::vector<char*> envp;
};

ExecArguments PrepareExec(const Launch& launch) {
    ExecArguments exec;
    exec.strings.push_back(launch.program.string());
    exec.strings.insert(exec.strings.end(), launch.arguments.begin(), launch.arguments.end());
    for (std::string& argument : exec.strings)
        exec.argv.push_back(argument.data());
    exec.argv.push_back(nullptr);

    std::map<std::string, std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos)
            environment[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : launch.environment)
        environment[name] = value;
    for (const auto& [name, value] : environment)
        exec.environmentStrings.push_back(name + "=" + value);
    for (std::string& entry : exec.environmentStrings)
        exec.envp.push_back(entry.data());
    exec.envp.push_back(nullptr);
    return exec;
}

[[noreturn]] void RunChild(const Launch& launch, ExecArguments& exec) {
    if (!launch.workingDir.empty() && ::chdir(launch.workingDir.c_str()) != 0)
        ::_exit(126);
    if (launch.inheritedFd >= 0)
        ::fcntl(launch.inheritedFd, F_SETFD, 0);
    if (launch.addressSpaceBytes != 0) {
        const rlimit limit{launch.addressSpaceBytes, launch.addressSpaceBytes};
        if (::setrlimit(RLIMIT_AS, &limit) != 0)
            ::_exit(125);
    }
    if (launch.quiet) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
        }
    }
    ::execve(exec.argv[0], exec.argv.data(), exec.envp.data());
    ::_exit(127);
}

int DecodeStatus(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? -WTERMSIG(status) : -1;
}

} // namespace

Process::Process(const Launch& launch) {
    ExecArguments exec = PrepareExec(launch);
    m_pid = ::fork();
    if (m_pid < 0)
        throw std::runtime_error("Cannot start " + launch.program.string() + ": " +
                                 std::strerror(errno));
    if (m_pid == 0)
        RunChild(launch, exec);
}

Process::~Process() {
    if (m_status || m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    if (!Wait(2s)) {
        ::kill(m_pid, SIGKILL);
        Wait(5s);
    }
}

std::optional<int> Process::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!m_status) {
        int status = 0;
        const pid_t result = ::waitpid(m_pid, &status, WNOHANG);
        if (result == m_pid)
            m_status = DecodeStatus(status);
        else if (result < 0 && errno != EINTR)
            throw std::runtime_error(std::string("waitpid failed: ") + std::strerror(errno));
        else if (Clock::now() >= deadline)
            break;
        else
            std::this_thread::sleep_for(2ms);
    }
    return m_status;
}

bool Process::Running() {
    return !Wait(0ms).has_value();
}

namespace {

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            throw std::runtime_error(std::string("pipe failed: ") + std::strerror(errno));
        read = ends[0];
        write = ends[1];
    }
    ~Pipe() {
        CloseWrite();
        ::close(read);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void CloseWrite() {
        if (write >= 0)
            ::close(write);
        write = -1;
    }
};

// Reads the display number that Xvfb writes once it accepts connections.
std::optional<std::string> ReadDisplayNumber(int fd, Process& server,
                                             std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::string text;
    while (Clock::now() < deadline && server.Running()) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 50) <= 0)
            continue;
        char buffer[32];
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count <= 0)
            return std::nullopt;
        text.append(buffer, static_cast<std::size_t>(count));
        if (text.find('\n') != std::string::npos)
            return text.substr(0, text.find('\n'));
        if (text.size() > 16)
            return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

VirtualDisplay::VirtualDisplay(const fs::path& xvfb, int width, int height) {
    Pipe pipe;
    Launch launch;
    launch.program = xvfb;
    launch.arguments = {"-displayfd",
                        std::to_string(pipe.write),
                        "-screen",
                        "0",
                        std::to_string(width) + "x" + std::to_string(height) + "x24",
                        "-nolisten",
                        "tcp",
                        "-noreset"};
    launch.inheritedFd = pipe.write;
    launch.quiet = true;
    m_server = std::make_unique<Process>(launch);
    pipe.CloseWrite();
    const std::optional<std::string> number = ReadDisplayNumber(pipe.read, *m_server, 15s);
    if (!number || number->empty())
        throw std::runtime_error("Xvfb (" + xvfb.string() + ") did not start a display");
    m_name = ":" + *number;
}

namespace {

int g_xErrorCode = 0;

int RecordXError(::Display*, XErrorEvent* error) {
    g_xErrorCode = error->error_code;
    return 0;
}

::Display* AsX(void* display) {
    return static_cast<::Display*>(display);
}

} // namespace

void Display::XDisplayCloser::operator()(void* display) const {
    XCloseDisplay(AsX(display));
}

Display::Display(const std::string& name) : m_display(XOpenDisplay(name.c_str())) {
    if (!m_display)
        throw std::runtime_error("Cannot open X display " + name);
    XSetErrorHandler(RecordXError);
}

Display::~Display() = default;

void Display::Check(const char* what) {
    XSync(AsX(m_display.get()), False);
    if (g_xErrorCode != 0) {
        const int code = g_xErrorCode;
        g_xErrorCode = 0;
        throw std::runtime_error(std::string(what) + " failed with X error " +
                                 std::to_string(code));
    }
}

Rect Display::Screen() const {
    ::Display* display = AsX(m_display.get());
    const int screen = XDefaultScreen(display);
    return {0, 0, XDisplayWidth(display, screen), XDisplayHeight(display, screen)};
}

namespace {

std::optional<unsigned long> CardinalProperty(::Display* display, Window window, Atom property) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &remaining, &data) != Success)
        return std::nullopt;
    std::optional<unsigned long> value;
    if (data != nullptr && format == 32 && count == 1)
        value = *reinterpret_cast<unsigned long*>(data);
    if (data != nullptr)
        XFree(data);
    return value;
}

std::string WindowTitle(::Display* display, Window window) {
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netName, 0, 256, False, utf8, &type, &format, &count,
                           &remaining, &data) == Success &&
        data != nullptr && format == 8)
        title.assign(reinterpret_cast<char*>(data), count);
    if (data != nullptr)
        XFree(data);
    if (!title.empty())
        return title;
    char* name = nullptr;
    if (XFetchName(display, window, &name) != 0 && name != nullptr) {
        title = name;
        XFree(name);
    }
    return title;
}

void ForEachWindow(::Display* display, Window window, const std::function<bool(Window)>& visit) {
    if (!visit(window))
        return;
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count) == 0)
        return;
    const std::vector<Window> list(children, children + count);
    if (children != nullptr)
        XFree(children);
    for (const Window child : list)
        ForEachWindow(display, child, visit);
}

} // namespace

std::vector<WindowId> Display::Windows(pid_t pid) {
    ::Display* display = AsX(m_display.get());
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    std::vector<WindowId> found;
    ForEachWindow(display, XDefaultRootWindow(display), [&](Window window) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, window, &attributes) == 0 ||
            attributes.map_state != IsViewable)
            return false;
        if (pid == 0 ||
            CardinalProperty(display, window, pidAtom) == static_cast<unsigned long>(pid))
            found.push_back(window);
        return true;
    });
    // A window that vanished while the tree was walked only means it is not one of them.
    g_xErrorCode = 0;
    return found;
}

std::optional<WindowId> Display::FindWindow(const std::string& title, pid_t pid) {
    for (const WindowId window : Windows(pid))
        if (WindowTitle(AsX(m_display.get()), window) == title)
            return window;
    g_xErrorCode = 0;
    return std::nullopt;
}

std::optional<WindowId> Display::WaitForWindow(const std::string& title, pid_t pid,
                                               std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (auto window = FindWindow(title, pid))
            return window;
        if (Clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(20ms);
    }
}

Rect Display::ClientArea(WindowId window) {
    ::Display* display = AsX(m_display.get());
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, window, &attributes);
    int x = 0;
    int y = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, XDefaultRootWindow(display), 0, 0, &x, &y, &child);
    Check("Reading the window's geometry");
    return {x, y, attributes.width, attributes.height};
}

std::string Display::Title(WindowId window) {
    std::string title = WindowTitle(AsX(m_display.get()), window);
    Check("Reading the window's title");
    return title;
}

namespace {

int LowBit(unsigned long mask) {
    int shift = 0;
    while (mask != 0 && (mask & 1) == 0) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

std::uint8_t Channel(unsigned long pixel, unsigned long mask) {
    const unsigned long value = (pixel & mask) >> LowBit(mask);
    const unsigned long maximum = mask >> LowBit(mask);
    return static_cast<std::uint8_t>(maximum == 0 ? 0 : value * 255 / maximum);
}

} // namespace

Picture Display::Grab(const Rect& screenArea) {
    ::Display* display = AsX(m_display.get());
    XImage* image = XGetImage(display, XDefaultRootWindow(display), screenArea.x, screenArea.y,
                              static_cast<unsigned>(screenArea.width),
                              static_cast<unsigned>(screenArea.height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        g_xErrorCode = 0;
        throw std::runtime_error("Cannot read the screen's pixels");
    }
    const auto destroy = [](XImage* owned) {
        XDestroyImage(owned);
    };
    std::unique_ptr<XImage, decltype(destroy)> owner(image, destroy);
    Picture picture(screenArea.width, screenArea.height);
    for (int y = 0; y < screenArea.height; ++y) {
        for (int x = 0; x < screenArea.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            picture.Set(x, y,
                        {Channel(pixel, image->red_mask), Channel(pixel, image->green_mask),
                         Channel(pixel, image->blue_mask)});
        }
    }
    return picture;
}

void Display::Click(Point screenPoint) {
    ::Display* display = AsX(m_display.get());
    XTestFakeMotionEvent(display, -1, screenPoint.x, screenPoint.y, CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    Check("Clicking");
}

void Display::RequestClose(WindowId window) {
    ::Display* display = AsX(m_display.get());
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    Check("Asking the window to close");
}

std::optional<Picture> WaitForStill(Display& display, const Rect& area,
                                    std::chrono::milliseconds quiet,
                                    std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    Picture last = display.Grab(area);
    auto lastChange = Clock::now();
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(30ms);
        Picture now = display.Grab(area);
        if (now != last) {
            last = std::move(now);
            lastChange = Clock::now();
        } else if (Clock::now() - lastChange >= quiet) {
            return last;
        }
    }
    return std::nullopt;
}

} // namespace x11
