#include "app/CoverEditor.h"

#include "app/PreferencesServices.h"

namespace mantleshade {

CoverEditor::CoverEditor(PreferencesSettings& settings, PreferencesServices& services)
    : settings_(settings), services_(services) {}

void CoverEditor::setSelectionID(int id) {
    if (id < kFirstID || id > kLastID) return;
    selectionID_ = id;
}

OverlayData CoverEditor::selectedCover() const {
    return settings_.overlays().at(index());
}

std::string CoverEditor::coverPickerLabel(int id) const {
    const PickerLabelParts parts = coverPickerLabelParts(id);
    return parts.head + parts.name + parts.tail;
}

CoverEditor::PickerLabelParts CoverEditor::coverPickerLabelParts(int id) const {
    const std::vector<OverlayData> list = settings_.overlays();
    PickerLabelParts parts;
    parts.head = "Cover (ID " + std::to_string(id) + ")";
    if (id < 1 || static_cast<std::size_t>(id) > list.size()) {
        parts.tail = " (No Media)";
        return parts;
    }
    const OverlayData& cover = list[static_cast<std::size_t>(id - 1)];
    if (!cover.name.empty()) {
        parts.head += ": ";
        parts.name = cover.name;
    }
    if (!cover.hasMedia()) parts.tail = " (No Media)";
    return parts;
}

std::string CoverEditor::oscIDText() const {
    return "OSC ID: " + std::to_string(selectionID_);
}

void CoverEditor::setName(const std::string& name) {
    settings_.editOverlay(index(), [&](OverlayData& cover) { cover.name = name; });
}

void CoverEditor::setUseSameMediaForAllScreens(bool value) {
    settings_.editOverlay(index(),
                          [&](OverlayData& cover) { cover.useSameMediaForAllScreens = value; });
}

std::optional<foundation::URL> CoverEditor::chooseMedia() {
    return services_.chooseMedia();
}

void CoverEditor::assignSharedMedia() {
    std::optional<foundation::URL> url = chooseMedia();
    if (!url) return;
    OverlayData::MediaItem item;
    item.setURL(*url);
    settings_.editOverlay(index(), [&](OverlayData& cover) { cover.sharedMedia = item; });
}

void CoverEditor::assignScreenMedia(const std::string& screenKey) {
    std::optional<foundation::URL> url = chooseMedia();
    if (!url) return;
    OverlayData::MediaItem item;
    item.setURL(*url);
    settings_.editOverlay(index(),
                          [&](OverlayData& cover) { cover.screenMedia[screenKey] = item; });
}

void CoverEditor::reveal(const std::optional<foundation::URL>& path) {
    if (path) services_.revealInFileManager(*path);
}

void CoverEditor::revealInFinder() {
    reveal(sharedMediaPath(selectedCover()));
}

void CoverEditor::revealInFinder(const std::string& screenKey) {
    reveal(screenMediaPath(selectedCover(), screenKey));
}

void CoverEditor::removeSharedMedia() {
    settings_.editOverlay(index(), [](OverlayData& cover) {
        if (cover.sharedMedia) {
            cover.sharedMedia->path.reset();
            cover.sharedMedia->bookmark.reset();
        }
    });
}

void CoverEditor::removeScreenMedia(const std::string& screenKey) {
    settings_.editOverlay(index(), [&](OverlayData& cover) {
        auto it = cover.screenMedia.find(screenKey);
        if (it != cover.screenMedia.end()) {
            it->second.path.reset();
            it->second.bookmark.reset();
        }
    });
}

std::string CoverEditor::sharedMediaIcon(const OverlayData& cover) {
    if (cover.sharedMedia && cover.sharedMedia->isVideo()) return "video";
    return "photo";
}

std::optional<foundation::URL> CoverEditor::sharedMediaPath(const OverlayData& cover) {
    if (!cover.sharedMedia) return std::nullopt;
    return cover.sharedMedia->path;
}

std::optional<foundation::URL> CoverEditor::screenMediaPath(const OverlayData& cover,
                                                            const std::string& screenKey) {
    auto it = cover.screenMedia.find(screenKey);
    if (it == cover.screenMedia.end()) return std::nullopt;
    return it->second.path;
}

}  // namespace mantleshade
