#pragma once

#include <QString>
#include <QUrl>
#include <string>

namespace desktop {

// Shows a file in the desktop's file manager with the file selected: the freedesktop
// FileManager1 "ShowItems" call on the session bus, or, when no file manager answers it,
// the file's folder opened with the default handler.
class FileReveal {
  public:
    // Returns at once; the D-Bus answer and any fallback are handled on the event loop.
    static void reveal(const std::string& absolutePath);

    // The file: URL of `absolutePath` as the call passes it.
    static QString fileURI(const std::string& absolutePath);
    // The folder that the fallback opens.
    static QUrl folderURL(const std::string& absolutePath);
};

}  // namespace desktop
