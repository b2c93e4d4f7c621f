#include "platform/desktop/Screens.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

namespace desktop {

namespace {

class QtScreens final : public Screens {
  public:
    std::vector<Screen> screens() const override {
        std::vector<Screen> list;
        if (!qGuiApp) return list;
        QScreen* main = nullptr;
        if (QWindow* focus = QGuiApplication::focusWindow()) main = focus->screen();
        if (!main) main = QGuiApplication::primaryScreen();
        for (QScreen* screen : QGuiApplication::screens()) {
            Screen entry = fromQScreen(screen);
            entry.isMain = screen == main;
            list.push_back(std::move(entry));
        }
        return list;
    }
};

}  // namespace

std::optional<Screen> Screens::mainScreen() const {
    for (Screen& screen : screens())
        if (screen.isMain) return std::move(screen);
    return std::nullopt;
}

std::shared_ptr<Screens> Screens::system() {
    static const std::shared_ptr<Screens> instance = std::make_shared<QtScreens>();
    return instance;
}

Screen Screens::fromQScreen(QScreen* screen) {
    Screen entry;
    if (!screen) return entry;
    entry.localizedName = screen->name().toStdString();
    entry.displayID = displayIDForScreenName(entry.localizedName);
    QRect g = screen->geometry();
    entry.frame = Rect{static_cast<double>(g.x()), static_cast<double>(g.y()),
                       static_cast<double>(g.width()), static_cast<double>(g.height())};
    entry.qscreen = screen;
    return entry;
}

}  // namespace desktop
