#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <string>

namespace desktop {

// Shows a file in the desktop's file manager with the file selected: the freedesktop
// FileManager1 "ShowItems" call on the session bus, or, when no file manager answers it,
// the file's folder opened with xdg-open (or Qt's default handler where there is no xdg-open).
class FileReveal {
  public:
    // Returns at once; the D-Bus answer and any fallback are handled on the event loop.
    // `onFailure` runs there when neither could show the file.
    static void reveal(const std::string& absolutePath, std::function<void()> onFailure = {});

    // The file: URL of `absolutePath` as the call passes it.
    static QString fileURI(const std::string& absolutePath);
    // The folder that the fallback opens.
    static QUrl folderURL(const std::string& absolutePath);
};

}  // namespace desktop
