#include "platform/exception.h"

Exception::Exception(const AnsiString& message) : std::runtime_error(message.str()) {}
