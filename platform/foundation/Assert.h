#pragma once

#include <functional>
#include <string>

namespace foundation {

// Receives the text of a failed assertion with its source location. The process has one handler,
// shared with dispatch::setAssertionHandler; the default prints the text and aborts.
using AssertionHandler = std::function<void(const std::string& text, const char* file, int line)>;

// Installs `handler` for the whole process (an empty function restores the default).
void setAssertionHandler(AssertionHandler handler);

// Reports a failed assertion through the installed handler. Returns only if the handler does.
void assertionFailure(const std::string& text, const char* file, int line);

// For cases that cannot occur: prints "Fatal error: <message>" with file and line to stderr and
// aborts. Never goes through the assertion handler.
[[noreturn]] void fatalError(const std::string& message, const char* file, int line);

}  // namespace foundation

#define MS_FATAL(msg) ::foundation::fatalError((msg), __FILE__, __LINE__)
#define MS_ASSERTION_FAILURE(msg) ::foundation::assertionFailure((msg), __FILE__, __LINE__)
