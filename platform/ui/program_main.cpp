#include "platform/ui/application.h"

#include <exception>

namespace {

int RunProgram() {
    TApplication application;
    Application = &application;
    int result = 0;
    try {
        result = ProgramMain();
    } catch (...) {
        // The program guards its own entry; this is the last resort, so nothing ends unseen.
        application.HandleException(std::current_exception());
        result = 1;
    }
    return result;
}

} // namespace

// The command line is the program's alone, and the program takes none: Qt sees argv[0] only,
// through TApplication::Initialize, while its environment variables still apply.
int main(int, char**) {
    const int result = RunProgram();
    Application = nullptr;
    return result;
}
