#pragma once

#include <optional>
#include <string>

#include "app/PreferencesSettings.h"
#include "platform/foundation/URL.h"

namespace mantleshade {

class PreferencesServices;

// The Media tab's logic: which cover is edited, its picker labels, and the edits of its name,
// mode and media. Every edit reads the stored list, changes the one cover and stores the whole
// list; nothing is cached between edits.
class CoverEditor {
  public:
    static constexpr int kFirstID = 1;
    static constexpr int kLastID = 5;

    CoverEditor(PreferencesSettings& settings, PreferencesServices& services);

    // The OSC ID of the edited cover, 1 at first. Values outside 1...5 are refused.
    int selectionID() const { return selectionID_; }
    void setSelectionID(int id);

    // The stored state of the edited cover.
    OverlayData selectedCover() const;

    // "Cover (ID 2): Lobby", "Cover (ID 3) (No Media)", ...
    std::string coverPickerLabel(int id) const;
    // The same label in its three parts: the head ("Cover (ID 2): " or "Cover (ID 3)"), the name
    // and the tail (" (No Media)" or ""), so that a view short of room can shorten the name alone.
    struct PickerLabelParts {
        std::string head;
        std::string name;
        std::string tail;
    };
    PickerLabelParts coverPickerLabelParts(int id) const;
    // "OSC ID: 3"
    std::string oscIDText() const;

    void setName(const std::string& name);
    void setUseSameMediaForAllScreens(bool value);

    std::optional<foundation::URL> chooseMedia();
    void assignSharedMedia();
    void assignScreenMedia(const std::string& screenKey);
    void revealInFinder();
    void revealInFinder(const std::string& screenKey);
    void removeSharedMedia();
    void removeScreenMedia(const std::string& screenKey);

    // The shared row's icon: "video" for a video file, else "photo".
    static std::string sharedMediaIcon(const OverlayData& cover);
    // The stored path of the shared media, or of the screen's media.
    static std::optional<foundation::URL> sharedMediaPath(const OverlayData& cover);
    static std::optional<foundation::URL> screenMediaPath(const OverlayData& cover,
                                                          const std::string& screenKey);

  private:
    std::size_t index() const { return static_cast<std::size_t>(selectionID_ - 1); }
    void reveal(const std::optional<foundation::URL>& path);

    PreferencesSettings& settings_;
    PreferencesServices& services_;
    int selectionID_ = kFirstID;
};

}  // namespace mantleshade
