#pragma once

#include "platform/core/exception.h"
#include "platform/core/published.h"
#include "platform/ui/components.h"

#include <exception>
#include <functional>
#include <memory>

struct TApplicationState;

// The program's application: its forms, its message loop and the hand-off from worker threads.
// Made by the platform's main() before the program's entry runs; user-interface thread only.
class TApplication : public TComponent {
public:
    TApplication();
    ~TApplication() override;

    void Initialize();

    // Makes a form of the given class owned by the application, builds it from its stored layout
    // (the resource named after the class in upper case), fills its published fields, binds its
    // handlers, runs its OnCreate and stores it in reference. The first form is the main form.
    template <class TFormClass> void CreateForm(TFormClass*& reference) {
        // Owned by the application from its constructor on; the reference is set before the
        // layout is applied, so that OnCreate may already reach the form through it.
        TFormClass* form = new TFormClass(this);
        reference = form;
        TPublishedMembers published;
        form->Publish(published);
        LoadForm(*form, TFormClass::ClassName(), published);
    }

    // Shows the main form and dispatches messages until it is closed. An exception that escapes
    // an event handler is shown and the loop goes on.
    void Run();
    // Shows the exception's message to the user, in a modal message box unless a presenter is set.
    // One at a time: a message that comes while one is shown waits until it is closed. Nothing is
    // shown once the main window has closed.
    void ShowException(const Exception* exception);
    // Shows any thrown object: an Exception or another standard exception by its message, running
    // out of memory as such, anything else with an empty message.
    void HandleException(std::exception_ptr exception);
    AnsiString Title() const;

private:
    friend void SetExceptionPresenter(TApplication& application,
                                      std::function<void(const AnsiString& message)> presenter);

    void Present(const AnsiString& message);
    void MainWindowClosed();
    void CloseMainThreadQueue();
    void LoadForm(TForm& form, const AnsiString& className, const TPublishedMembers& published);

    std::unique_ptr<TApplicationState> m_state;
    TForm* m_mainForm = nullptr;
};

extern TApplication* Application;

// The program's entry, defined by the program: the platform's main() calls it once Application is
// made, and ends the process with what it returns. Command-line arguments do not reach it.
int ProgramMain();
