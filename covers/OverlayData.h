#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/URL.h"
#include "platform/foundation/UUID.h"

namespace foundation {
class UserDefaults;
}

namespace mantleshade {

// Defaults key of the stored cover list (JSON text of an array of covers).
inline constexpr const char* kOverlaysDefaultsKey = "overlays";

// Whether the file at `url` is shown as a video: its extension, in any case, is mp4, mov, m4v or
// avi. Everything else counts as an image.
bool isVideoFile(const foundation::URL& url);

// The key of a screen's media in OverlayData::screenMedia: the display ID in decimal.
std::string displayIDKey(std::uint32_t displayID);

// One cover: a name and either one media file for every screen or one per screen.
struct OverlayData {
    // One media file: the URL as chosen and a bookmark to find it again.
    struct MediaItem {
        std::optional<foundation::URL> path;
        std::optional<std::vector<std::uint8_t>> bookmark;

        // False without a path; otherwise isVideoFile(path). The bookmark is not resolved.
        bool isVideo() const;

        // Records a newly chosen file: path and a fresh bookmark. When the bookmark cannot be
        // made it prints "❌ Bookmark failed: <error>" and keeps the earlier bookmark.
        void setURL(const foundation::URL& url);

        // The URL to open: the bookmark's file when it resolves (renewing a stale bookmark in
        // place, or dropping it when that fails), else `path`.
        std::optional<foundation::URL> resolvedURL();
    };

    foundation::UUID id;
    std::optional<MediaItem> sharedMedia;
    // Keyed by displayIDKey().
    std::map<std::string, MediaItem> screenMedia;
    bool useSameMediaForAllScreens = true;
    std::string name;

    // Whether the media in use have a path: sharedMedia's in shared mode, any of screenMedia's
    // otherwise. Bookmarks are not resolved and nothing is checked on disk.
    bool hasMedia() const;

    // JSON text of a cover list: an array of objects with the keys "id", "sharedMedia" (left out
    // when absent), "screenMedia", "useSameMediaForAllScreens" and "name", in that order; a media
    // item writes only the keys "path" and "bookmark" (Base64) that it has.
    static std::string encodeList(const std::vector<OverlayData>& list);
    // The list in `text`, or nullopt when any part of it does not decode (a missing required
    // key, a wrong JSON type, a bad UUID, URL or Base64 text): there are no partial lists.
    // Unknown keys are ignored; null counts as absent for the optional keys.
    static std::optional<std::vector<OverlayData>> decodeList(std::string_view text);

    // The list stored under "overlays"; nullopt when the key is absent or does not decode.
    static std::optional<std::vector<OverlayData>> loadList(foundation::UserDefaults& defaults);
    static std::optional<std::vector<OverlayData>> loadList();  // standard defaults
    // Stores the list under "overlays"; false when the defaults file could not be written.
    static bool saveList(const std::vector<OverlayData>& list, foundation::UserDefaults& defaults);
    static bool saveList(const std::vector<OverlayData>& list);  // standard defaults
};

}  // namespace mantleshade
