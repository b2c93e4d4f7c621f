#pragma once

#include <functional>
#include <string>

namespace dispatch {

// Called on misuse of the runtime (sync onto the queue you are running on, resuming a source
// that is not suspended, ...). The default prints "Fatal error: <message>" with file and line
// to stderr and aborts. A replaced handler may return; the misused call then does nothing.
using AssertionHandler =
    std::function<void(const std::string& message, const char* file, int line)>;

// Replaces the handler; an empty handler restores the default.
void setAssertionHandler(AssertionHandler handler);

void assertionFailure(const std::string& message, const char* file, int line);

}  // namespace dispatch

#define DISPATCH_ASSERTION_FAILURE(message) \
    ::dispatch::assertionFailure((message), __FILE__, __LINE__)
