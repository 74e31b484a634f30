#include "platform/ui/application.h"

#include "platform/core/decode_control.h"
#include "platform/core/main_thread_queue.h"
#include "platform/core/thread.h"
#include "platform/ui/application_p.h"
#include "platform/ui/bitmap_p.h"
#include "platform/ui/control_widget_p.h"
#include "platform/ui/form_loader_p.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QIcon>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>

#include <array>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <new>
#include <string>

TApplication* Application = nullptr;

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace {

constexpr const char* MainIconResource = ":/icons/MAINICON";

// Receives, on the user-interface thread, the wake-ups that workers post when they hand it a call.
// The event carries no data: the calls wait in the main-thread queue, under its own lock.
class TWakeUpReceiver : public QObject {
public:
    explicit TWakeUpReceiver(std::function<void()> processPending)
        : m_processPending(std::move(processPending)) {}

    // Any thread.
    static void Post(QObject* receiver) {
        auto event = std::make_unique<QEvent>(WakeUpEvent);
        // Qt's event queue orders the post before the delivery under a lock that
        // ThreadSanitizer cannot see; say so, or the event's own memory reads as a race.
        ReleaseHandOff();
        QCoreApplication::postEvent(receiver, event.release());
    }

    bool event(QEvent* event) override {
        // Before the event is read: it was made on the worker.
        AcquireHandOff();
        if (event->type() != WakeUpEvent)
            return QObject::event(event);
        CallFromQt(m_processPending);
        return true;
    }

private:
    static constexpr auto WakeUpEvent = static_cast<QEvent::Type>(QEvent::User + 1);

#if defined(__SANITIZE_THREAD__)
    static void ReleaseHandOff() {
        __tsan_release(&HandOffToken);
    }
    static void AcquireHandOff() {
        __tsan_acquire(&HandOffToken);
    }
    static inline int HandOffToken = 0;
#else
    static void ReleaseHandOff() {}
    static void AcquireHandOff() {}
#endif
    std::function<void()> m_processPending;
};

} // namespace

struct TApplicationState {
    // QApplication keeps argc and argv for its whole life. It gets the program's path only: the
    // command line is not Qt's to parse.
    std::string programPath;
    int argc = 1;
    std::array<char*, 2> argv{};
    std::unique_ptr<QApplication> qtApplication;

    // Lives on the user-interface thread, so a call queued to it runs there.
    std::unique_ptr<QObject> wakeUpReceiver;
    std::unique_ptr<TMainThreadQueue> queue;
    bool queueClosed = false;

    std::function<void(const AnsiString&)> presenter;
    // One message box at a time: what comes while one is open waits here for it to close.
    std::deque<AnsiString> waitingMessages;
    bool showingMessage = false;
    // Once the main window has closed, nothing more is shown.
    bool mainWindowClosed = false;
};

void CallFromQt(const std::function<void()>& code) noexcept {
    try {
        code();
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        try {
            if (Application == nullptr)
                std::rethrow_exception(error);
            Application->HandleException(error);
        } catch (...) {
            // Showing the error failed too (or there is no application to show it): stderr is
            // all that is left, and the loop must go on.
            std::fputs("Ombrel: an error could not be shown\n", stderr);
        }
    }
}

TApplication::TApplication()
    : TComponent(nullptr), m_state(std::make_unique<TApplicationState>()) {}

TApplication::~TApplication() {
    CloseMainThreadQueue();
    // Forms before the queue and the QApplication: their widgets and handlers need both.
    DestroyComponents();
    m_state->queue.reset();
    m_state->wakeUpReceiver.reset();
    m_state->qtApplication.reset();
}

void TApplication::Initialize() {
    TApplicationState& state = *m_state;
    AllowDecodes();
    if (QCoreApplication::instance() == nullptr) {
        state.programPath = program_invocation_name;
        state.argv = {state.programPath.data(), nullptr};
        state.qtApplication = std::make_unique<QApplication>(state.argc, state.argv.data());
        // The program's icon, the resource MAINICON, when the program carries one.
        if (QFile::exists(MainIconResource))
            QApplication::setWindowIcon(QIcon(MainIconResource));
    }
    if (state.queue != nullptr)
        return;
    state.wakeUpReceiver = std::make_unique<TWakeUpReceiver>([this] {
        if (m_state->queue != nullptr)
            m_state->queue->ProcessPending();
    });
    // Workers call the wake-up; the receiver outlives them all (see CloseMainThreadQueue).
    QObject* receiver = state.wakeUpReceiver.get();
    state.queue =
        std::make_unique<TMainThreadQueue>([receiver] { TWakeUpReceiver::Post(receiver); });
    state.queue->SetExceptionHandler(
        [this](std::exception_ptr error) { HandleException(std::move(error)); });
}

void TApplication::LoadForm(TForm& form, const AnsiString& className,
                            const TPublishedMembers& published) {
    AssertUiThread();
    LoadStoredLayout(form, className, published);
    // Sizes are the display's logical pixels, as Qt's are; the thumbnails that the program makes
    // hold the pixels of the screen that the window is on.
    if (const QWidget* window = WidgetOf(form).widget)
        SetMadeBitmapDensity(window->screen()->devicePixelRatio());
    if (const TNotifyEvent onCreate = form.OnCreate())
        onCreate(&form);
    if (m_mainForm == nullptr)
        m_mainForm = &form;
}

void TApplication::Run() {
    AssertUiThread();
    if (m_mainForm != nullptr && WidgetOf(*m_mainForm).widget != nullptr) {
        QPointer<QWidget> window = WidgetOf(*m_mainForm).widget.data();
        QEventLoop loop;
        // Before the loop has ended: the events already queued still run, and may show errors.
        FormWindow(*m_mainForm).onClosed = [this, &loop] {
            MainWindowClosed();
            loop.quit();
        };
        QObject::connect(window, &QObject::destroyed, &loop, &QEventLoop::quit);
        m_mainForm->Show();
        loop.exec();
        if (window != nullptr)
            FormWindow(*m_mainForm).onClosed = nullptr;
        MainWindowClosed();
    }
    CloseMainThreadQueue();
}

void TApplication::MainWindowClosed() {
    m_state->mainWindowClosed = true;
    m_state->waitingMessages.clear();
    StopDecodes();
}

void TApplication::CloseMainThreadQueue() {
    if (m_state->queueClosed)
        return;
    m_state->queueClosed = true;
    // Workers inside a decode stop at its next rows instead of holding the exit up.
    StopDecodes();
    if (m_state->queue != nullptr)
        m_state->queue->Close();
    // Workers blocked in Synchronize have just been released with an error; wait for them to end.
    TThread::WaitForAll();
}

void TApplication::ShowException(const Exception* exception) {
    if (m_state->mainWindowClosed)
        return;
    m_state->waitingMessages.push_back(exception != nullptr ? exception->Message() : AnsiString());
    // A box is open further up this thread's stack: its loop brought this error here, and the box
    // shows it once it closes.
    if (m_state->showingMessage)
        return;
    m_state->showingMessage = true;
    struct TShowing {
        TApplicationState& state;
        ~TShowing() { state.showingMessage = false; }
    } const showing{*m_state};
    while (!m_state->waitingMessages.empty()) {
        const AnsiString message = m_state->waitingMessages.front();
        m_state->waitingMessages.pop_front();
        Present(message);
    }
}

void TApplication::Present(const AnsiString& message) {
    if (m_state->presenter) {
        m_state->presenter(message);
        return;
    }
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        // No window system yet: a message box cannot be made.
        std::fprintf(stderr, "%s: %s\n", Title().c_str(), message.c_str());
        return;
    }
    QMessageBox box(QMessageBox::Critical, ToQString(Title()), ToQString(message), QMessageBox::Ok);
    box.exec();
}

// Only a thrown value that is no exception at all is left without words.
void TApplication::HandleException(std::exception_ptr exception) {
    if (exception == nullptr)
        return;
    try {
        std::rethrow_exception(exception);
    } catch (const Exception& error) {
        ShowException(&error);
    } catch (const std::bad_alloc&) {
        const EOutOfMemory outOfMemory("Out of memory");
        ShowException(&outOfMemory);
    } catch (const std::exception& error) {
        const Exception wrapped(error.what());
        ShowException(&wrapped);
    } catch (...) {
        const Exception unknown("");
        ShowException(&unknown);
    }
}

void SetExceptionPresenter(TApplication& application,
                           std::function<void(const AnsiString& message)> presenter) {
    application.m_state->presenter = std::move(presenter);
}

void ProcessMessages() {
    AssertUiThread();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

AnsiString TApplication::Title() const {
    if (program_invocation_short_name != nullptr && *program_invocation_short_name != '\0')
        return AnsiString(program_invocation_short_name);
    return FromQString(QCoreApplication::applicationName());
}
