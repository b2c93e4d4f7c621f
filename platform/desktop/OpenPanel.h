#pragma once

#include <QStringList>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace desktop {

// The kinds of file an open panel may offer.
enum class ContentType { pngImage = 0, jpegImage = 1, movie = 2, mpeg4Movie = 3 };

// A file chooser (QFileDialog), modal to the window that opens it. The content types become its name filters, preceded by one
// filter that offers them all together.
class OpenPanel {
  public:
    bool allowsMultipleSelection = false;
    bool canChooseDirectories = false;
    bool canChooseFiles = true;
    std::vector<ContentType> allowedContentTypes;
    // Shown as the dialog's title.
    std::string message;

    // Runs the dialog (window-modal to `parent`'s window); the chosen file's absolute path, or nullopt when cancelled. The
    // keyboard then goes back to `parent`'s window and the widget that had it.
    std::optional<std::string> runModal(QWidget* parent = nullptr) const;

    // The name filters for `types`, e.g. "PNG image (*.png *.PNG)"; with more than one type the
    // first entry lists every pattern.
    static QStringList nameFilters(const std::vector<ContentType>& types);
    // The file-name patterns of one type, lower- and upper-case.
    static QStringList patterns(ContentType type);
};

}  // namespace desktop
