#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class QSystemTrayIcon;

namespace desktop {

// A status-bar item: a tray icon (freedesktop StatusNotifierItem or XEmbed tray, as Qt finds)
// that opens its menu when clicked. Without a tray on the desktop the item still exists and keeps
// its menu; it has no button then, and appears if a tray shows up later.
class StatusItem : public QObject {
    Q_OBJECT

  public:
    enum class Length { variable, square };

    // A new item in the system status bar. Main thread; needs a QApplication.
    static std::unique_ptr<StatusItem> create(Length length = Length::variable);
    ~StatusItem() override;

    Length length() const { return length_; }

    // Whether the desktop has a tray to show the item in.
    bool hasButton() const;
    // The button's image and the accessibility description (the tooltip, read by screen readers).
    void setButtonImage(const QIcon& image, const QString& accessibilityDescription);
    QIcon buttonImage() const { return image_; }
    QString accessibilityDescription() const { return accessibilityDescription_; }

    // The menu the item opens; not owned (the caller keeps it alive as long as the item).
    void setMenu(QMenu* menu);
    QMenu* menu() const { return menu_; }

    QSystemTrayIcon* trayIcon() const { return tray_.get(); }

    // An icon for a symbol name of the other platform: the freedesktop theme icon of the same
    // meaning when the theme has one, otherwise a drawn stand-in ("photo.tv": a screen showing a
    // picture). Never null.
    static QIcon systemSymbolImage(const QString& symbolName);

  private:
    explicit StatusItem(Length length);

    Length length_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    QPointer<QMenu> menu_;
    QIcon image_;
    QString accessibilityDescription_;
};

}  // namespace desktop
