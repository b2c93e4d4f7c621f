#include "platform/foundation/Assert.h"

#include <cstdio>
#include <cstdlib>

#include "platform/dispatch/Assert.h"

namespace foundation {

// One handler for the process: the dispatch runtime's.
void setAssertionHandler(AssertionHandler handler) {
    dispatch::setAssertionHandler(std::move(handler));
}

void assertionFailure(const std::string& text, const char* file, int line) {
    dispatch::assertionFailure(text, file, line);
}

void fatalError(const std::string& message, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: Fatal error: %s\n", file ? file : "?", line, message.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace foundation
