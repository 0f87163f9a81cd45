#pragma once
// The application's default exception report: an exception that escapes an
// event handler is shown in an error box with its text, and the program goes on.
#include "Messages.h"

#include <exception>
#include <functional>

namespace platform {

// Text of an exception for the report (UTF-8 as thrown by our code).
std::u16string exceptionText(const std::exception_ptr& e);

// Runs an event handler under the default report. Returns false when an
// exception escaped it (and was shown).
bool runGuarded(Messages& messages, const std::function<void()>& handler);

} // namespace platform
