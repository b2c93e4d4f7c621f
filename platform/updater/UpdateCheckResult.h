#pragma once

#include <QString>

namespace updater {

// The outcome of one update check.
struct UpdateCheckResult {
    enum class Kind {
        noFeedConfigured = 0,  // no feed URL in the updater's settings
        upToDate = 1,          // the feed names this version or an older one
        updateAvailable = 2,   // the feed names a newer version
        failed = 3,            // fetch failed, timed out, or the feed did not parse
    };

    Kind kind = Kind::failed;
    // The version the feed names (empty unless the feed was read).
    QString latestVersion;
    // One line for the user: what happened.
    QString message;

    friend bool operator==(const UpdateCheckResult&, const UpdateCheckResult&) = default;
};

}  // namespace updater
