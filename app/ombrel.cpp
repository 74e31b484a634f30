#include "app/fMain.h"

#include <exception>

// The program's entry. Anything that escapes start-up or the message loop is shown, and the program
// ends with 0 all the same.
int ProgramMain() {
    try {
        Application->Initialize();
        Application->CreateForm(Form1);
        Application->Run();
    } catch (Exception& exception) {
        Application->ShowException(&exception);
    } catch (std::exception&) {
        // Its own words, or that memory ran out.
        Application->HandleException(std::current_exception());
    } catch (...) {
        try {
            throw Exception("");
        } catch (Exception& exception) {
            Application->ShowException(&exception);
        }
    }
    return 0;
}
