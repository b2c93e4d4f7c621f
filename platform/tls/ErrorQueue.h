#pragma once

#include <string>

namespace tls {

// OpenSSL's error queue is per thread and socket queues hop between pool threads, so every call
// clears it first and reads it right after.

// Empties this thread's error queue and answers the reason text of its first entry, or
// `fallback` when it was empty.
std::string takeErrorText(const std::string& fallback);

// Reason text of an error code taken from the queue.
std::string errorText(unsigned long err);

}  // namespace tls
