#include "covers/OverlayData.h"

#include <algorithm>
#include <cctype>
#include <iostream>

#include <nlohmann/json.hpp>

#include "platform/foundation/Base64.h"
#include "platform/foundation/Bookmark.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/UserDefaults.h"

namespace mantleshade {

namespace {

using OrderedJson = nlohmann::ordered_json;
using Json = nlohmann::json;

// Thrown inside decoding only; never leaves this file.
struct DecodeFailure {};

const Json* member(const Json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

const Json& required(const Json& object, const char* key) {
    const Json* value = member(object, key);
    if (!value) throw DecodeFailure{};
    return *value;
}

// Optional keys: missing or null both mean absent.
const Json* optional(const Json& object, const char* key) {
    const Json* value = member(object, key);
    return value && !value->is_null() ? value : nullptr;
}

foundation::URL decodeURL(const Json& value) {
    if (!value.is_string()) throw DecodeFailure{};
    auto url = foundation::URL::fromString(value.get<std::string>());
    if (!url) throw DecodeFailure{};
    return *url;
}

OverlayData::MediaItem decodeItem(const Json& value) {
    if (!value.is_object()) throw DecodeFailure{};
    OverlayData::MediaItem item;
    if (const Json* path = optional(value, "path")) item.path = decodeURL(*path);
    if (const Json* bookmark = optional(value, "bookmark")) {
        if (!bookmark->is_string()) throw DecodeFailure{};
        auto data = foundation::base64Decode(bookmark->get_ref<const std::string&>());
        if (!data) throw DecodeFailure{};
        item.bookmark = std::move(*data);
    }
    return item;
}

OverlayData decodeCover(const Json& value) {
    if (!value.is_object()) throw DecodeFailure{};
    OverlayData cover;
    const Json& id = required(value, "id");
    if (!id.is_string()) throw DecodeFailure{};
    auto uuid = foundation::UUID::fromString(id.get_ref<const std::string&>());
    if (!uuid) throw DecodeFailure{};
    cover.id = *uuid;

    if (const Json* shared = optional(value, "sharedMedia"))
        cover.sharedMedia = decodeItem(*shared);

    const Json& screens = required(value, "screenMedia");
    if (!screens.is_object()) throw DecodeFailure{};
    for (auto it = screens.begin(); it != screens.end(); ++it)
        cover.screenMedia[it.key()] = decodeItem(it.value());

    const Json& same = required(value, "useSameMediaForAllScreens");
    if (!same.is_boolean()) throw DecodeFailure{};
    cover.useSameMediaForAllScreens = same.get<bool>();

    const Json& name = required(value, "name");
    if (!name.is_string()) throw DecodeFailure{};
    cover.name = name.get<std::string>();
    return cover;
}

OrderedJson encodeItem(const OverlayData::MediaItem& item) {
    OrderedJson json = OrderedJson::object();
    if (item.path) json["path"] = item.path->absoluteString();
    if (item.bookmark) json["bookmark"] = foundation::base64Encode(*item.bookmark);
    return json;
}

}  // namespace

bool isVideoFile(const foundation::URL& url) {
    std::string ext = url.pathExtension();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == "mp4" || ext == "mov" || ext == "m4v" || ext == "avi";
}

std::string displayIDKey(std::uint32_t displayID) {
    return std::to_string(displayID);
}

bool OverlayData::MediaItem::isVideo() const {
    return path && isVideoFile(*path);
}

void OverlayData::MediaItem::setURL(const foundation::URL& url) {
    bool granted = foundation::startAccessingSecurityScopedResource(url);
    path = url;
    foundation::Error error;
    auto data = foundation::createBookmark(url, &error);
    if (!data.empty()) {
        bookmark = std::move(data);
    } else {
        std::cout << "❌ Bookmark failed: " << error.description() << std::endl;
    }
    if (granted) foundation::stopAccessingSecurityScopedResource(url);
}

std::optional<foundation::URL> OverlayData::MediaItem::resolvedURL() {
    if (!bookmark) return path;
    bool isStale = false;
    auto resolved = foundation::resolveBookmark(*bookmark, isStale);
    if (!resolved) return path;
    if (isStale) {
        auto renewed = foundation::createBookmark(*resolved);
        if (renewed.empty())
            bookmark.reset();
        else
            bookmark = std::move(renewed);
    }
    foundation::startAccessingSecurityScopedResource(*resolved);
    return resolved;
}

bool OverlayData::hasMedia() const {
    if (useSameMediaForAllScreens) return sharedMedia && sharedMedia->path.has_value();
    return std::any_of(screenMedia.begin(), screenMedia.end(),
                       [](const auto& entry) { return entry.second.path.has_value(); });
}

std::string OverlayData::encodeList(const std::vector<OverlayData>& list) {
    OrderedJson array = OrderedJson::array();
    for (const OverlayData& cover : list) {
        OrderedJson json = OrderedJson::object();
        json["id"] = cover.id.uuidString();
        if (cover.sharedMedia) json["sharedMedia"] = encodeItem(*cover.sharedMedia);
        OrderedJson screens = OrderedJson::object();
        for (const auto& [key, item] : cover.screenMedia) screens[key] = encodeItem(item);
        json["screenMedia"] = std::move(screens);
        json["useSameMediaForAllScreens"] = cover.useSameMediaForAllScreens;
        json["name"] = cover.name;
        array.push_back(std::move(json));
    }
    // Invalid UTF-8 in a name must not throw: replace it.
    return array.dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
}

std::optional<std::vector<OverlayData>> OverlayData::decodeList(std::string_view text) {
    Json json = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded() || !json.is_array()) return std::nullopt;
    std::vector<OverlayData> list;
    list.reserve(json.size());
    try {
        for (const Json& entry : json) list.push_back(decodeCover(entry));
    } catch (const DecodeFailure&) {
        return std::nullopt;
    } catch (const Json::exception&) {
        return std::nullopt;
    }
    return list;
}

std::optional<std::vector<OverlayData>> OverlayData::loadList(foundation::UserDefaults& defaults) {
    auto text = defaults.string(kOverlaysDefaultsKey);
    if (!text) return std::nullopt;
    return decodeList(*text);
}

std::optional<std::vector<OverlayData>> OverlayData::loadList() {
    return loadList(foundation::UserDefaults::standard());
}

bool OverlayData::saveList(const std::vector<OverlayData>& list,
                           foundation::UserDefaults& defaults) {
    return defaults.set(kOverlaysDefaultsKey, encodeList(list));
}

bool OverlayData::saveList(const std::vector<OverlayData>& list) {
    return saveList(list, foundation::UserDefaults::standard());
}

}  // namespace mantleshade
