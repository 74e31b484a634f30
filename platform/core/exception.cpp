#include "platform/core/exception.h"

Exception::Exception(const AnsiString& message) : std::runtime_error(message.str()) {}
