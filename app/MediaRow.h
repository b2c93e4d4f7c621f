#pragma once

#include <QColor>
#include <QPixmap>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/URL.h"

class QLabel;
class QPushButton;
class QToolButton;
class QHBoxLayout;

namespace mantleshade {

class VideoThumbnailView;

// One media assignment: icon, title, the file's name or "No media assigned", a thumbnail, and
// the buttons that call the actions it is given. It changes nothing itself.
class MediaRow : public QWidget {
    Q_OBJECT

  public:
    struct Config {
        std::string label;
        std::string icon;
        bool showBackground = true;
        std::optional<foundation::URL> mediaPath;
        std::function<void()> onBrowse;
        std::function<void()> onReveal;
        std::function<void()> onRemove;
    };

    // What the thumbnail slot shows.
    enum class Thumbnail { none = 0, video = 1, image = 2 };
    // How the second line reads.
    enum class DetailStyle { secondary = 0, missing = 1, tertiary = 2 };

    static constexpr int kPadding = 8;
    static constexpr int kThumbnailSize = 48;

    explicit MediaRow(Config config, QWidget* parent = nullptr);

    // Rebuilds the row in place; a video thumbnail is kept while the path stays the same.
    void setConfig(Config config);
    const Config& config() const { return config_; }

    // The second line: the file's name, or "No media assigned".
    static QString detailText(const std::optional<foundation::URL>& mediaPath);
    static DetailStyle detailStyle(const std::optional<foundation::URL>& mediaPath);
    static Thumbnail thumbnailKind(const std::optional<foundation::URL>& mediaPath);
    // The image at `path` decoded at about the size it is shown, or a null image.
    static QImage loadThumbnailImage(const QString& path, int side);
    // `image` scaled to fill a square of `side`, cropped to the centre, corners rounded.
    static QPixmap filledThumbnail(const QImage& image, int side);

    DetailStyle currentDetailStyle() const { return detailStyle_; }
    Thumbnail currentThumbnail() const { return thumbnail_; }
    VideoThumbnailView* videoThumbnail() const { return video_; }

    // Tall enough for the whole thumbnail and its padding whenever a path is set.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void rebuild(bool pathChanged);

    Config config_;
    DetailStyle detailStyle_ = DetailStyle::tertiary;
    Thumbnail thumbnail_ = Thumbnail::none;
    QLabel* icon_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* detail_ = nullptr;
    QLabel* image_ = nullptr;
    VideoThumbnailView* video_ = nullptr;
    QToolButton* reveal_ = nullptr;
    QToolButton* remove_ = nullptr;
    QPushButton* browse_ = nullptr;
    QHBoxLayout* thumbnailSlot_ = nullptr;
};

}  // namespace mantleshade
