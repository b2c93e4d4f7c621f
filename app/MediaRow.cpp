#include "app/MediaRow.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/SystemSymbol.h"
#include "app/VideoThumbnailView.h"
#include "covers/OverlayData.h"

namespace mantleshade {

namespace {

// A label that shortens its text in the middle, so the extension stays visible.
class MiddleElidedLabel : public QLabel {
  public:
    using QLabel::QLabel;
    void setFullText(const QString& text) {
        full_ = text;
        setToolTip(text);
        elide();
    }
    QSize minimumSizeHint() const override { return {20, QLabel::minimumSizeHint().height()}; }
    QSize sizeHint() const override {
        return {fontMetrics().horizontalAdvance(full_) + 2, QLabel::sizeHint().height()};
    }

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        elide();
    }

  private:
    void elide() { setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, width())); }
    QString full_;
};

QFont captionFont(const QFont& base) {
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() > 0 ? base.pointSizeF() * 0.85 : 9);
    return font;
}

}  // namespace

MediaRow::MediaRow(Config config, QWidget* parent) : QWidget(parent) {
    setObjectName("MediaRow");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kPadding, kPadding, kPadding, kPadding);

    icon_ = new QLabel(this);
    icon_->setObjectName("mediaRowIcon");
    row->addWidget(icon_, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout();
    title_ = new QLabel(this);
    title_->setObjectName("mediaRowTitle");
    title_->setTextFormat(Qt::PlainText);
    detail_ = new MiddleElidedLabel(this);
    detail_->setObjectName("mediaRowDetail");
    detail_->setTextFormat(Qt::PlainText);
    detail_->setFont(captionFont(font()));
    detail_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    texts->addWidget(title_);
    texts->addWidget(detail_);
    row->addLayout(texts, 1);

    thumbnailSlot_ = new QHBoxLayout();
    thumbnailSlot_->setContentsMargins(0, 0, 0, 0);
    row->addLayout(thumbnailSlot_);

    image_ = new QLabel(this);
    image_->setObjectName("mediaRowThumbnail");
    image_->setFixedSize(kThumbnailSize, kThumbnailSize);
    image_->setAlignment(Qt::AlignCenter);
    thumbnailSlot_->addWidget(image_);

    reveal_ = new QToolButton(this);
    reveal_->setObjectName("mediaRowReveal");
    reveal_->setIcon(SystemSymbol::icon("folder"));
    reveal_->setAutoRaise(true);
    reveal_->setToolTip("Reveal");
    remove_ = new QToolButton(this);
    remove_->setObjectName("mediaRowRemove");
    remove_->setIcon(SystemSymbol::icon("trash"));
    remove_->setAutoRaise(true);
    remove_->setToolTip("Remove");
    browse_ = new QPushButton(QString::fromUtf8("Browse…"), this);
    browse_->setObjectName("mediaRowBrowse");
    browse_->setFlat(true);
    row->addWidget(reveal_);
    row->addWidget(remove_);
    row->addWidget(browse_);

    connect(reveal_, &QToolButton::clicked, this, [this] {
        if (config_.onReveal) config_.onReveal();
    });
    connect(remove_, &QToolButton::clicked, this, [this] {
        if (config_.onRemove) config_.onRemove();
    });
    connect(browse_, &QPushButton::clicked, this, [this] {
        if (config_.onBrowse) config_.onBrowse();
    });

    config_ = std::move(config);
    rebuild(true);
}

void MediaRow::setConfig(Config config) {
    const bool pathChanged = config.mediaPath != config_.mediaPath;
    config_ = std::move(config);
    rebuild(pathChanged);
}

QString MediaRow::detailText(const std::optional<foundation::URL>& mediaPath) {
    if (!mediaPath) return "No media assigned";
    return QString::fromStdString(mediaPath->lastPathComponent());
}

MediaRow::DetailStyle MediaRow::detailStyle(const std::optional<foundation::URL>& mediaPath) {
    if (!mediaPath) return DetailStyle::tertiary;
    return QFileInfo::exists(QString::fromStdString(mediaPath->path())) ? DetailStyle::secondary
                                                                        : DetailStyle::missing;
}

MediaRow::Thumbnail MediaRow::thumbnailKind(const std::optional<foundation::URL>& mediaPath) {
    if (!mediaPath) return Thumbnail::none;
    if (isVideoFile(*mediaPath)) return Thumbnail::video;
    QImageReader reader(QString::fromStdString(mediaPath->path()));
    return reader.canRead() ? Thumbnail::image : Thumbnail::none;
}

QImage MediaRow::loadThumbnailImage(const QString& path, int side) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize full = reader.size();
    // Read again at every build: decoding at the shown size keeps a large photo cheap.
    const int target = side * 2;
    if (full.isValid() && (full.width() > target && full.height() > target))
        reader.setScaledSize(full.scaled(target, target, Qt::KeepAspectRatioByExpanding));
    return reader.read();
}

QPixmap MediaRow::filledThumbnail(const QImage& image, int side) {
    QPixmap result(side, side);
    result.fill(Qt::transparent);
    if (image.isNull()) return result;
    const QImage filled =
        image.scaled(side, side, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    QPainter painter(&result);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, side, side), 4, 4);
    painter.setClipPath(clip);
    painter.drawImage(QPoint((side - filled.width()) / 2, (side - filled.height()) / 2), filled);
    return result;
}

void MediaRow::rebuild(bool pathChanged) {
    const QPalette pal = palette();
    QColor secondary = pal.color(QPalette::WindowText);
    secondary.setAlphaF(0.6);
    QColor tertiary = pal.color(QPalette::WindowText);
    tertiary.setAlphaF(0.35);

    icon_->setPixmap(SystemSymbol::icon(config_.icon).pixmap(20, 20));
    title_->setText(QString::fromStdString(config_.label));

    detailStyle_ = detailStyle(config_.mediaPath);
    static_cast<MiddleElidedLabel*>(detail_)->setFullText(detailText(config_.mediaPath));
    QPalette detailPalette = detail_->palette();
    detailPalette.setColor(QPalette::WindowText,
                           detailStyle_ == DetailStyle::missing     ? QColor(Qt::red)
                           : detailStyle_ == DetailStyle::secondary ? secondary
                                                                    : tertiary);
    detail_->setPalette(detailPalette);

    // Images are read again on every build (no cache); a video keeps its frame while the path
    // stays the same.
    thumbnail_ = thumbnailKind(config_.mediaPath);
    if (thumbnail_ != Thumbnail::video || pathChanged) {
        delete video_;
        video_ = nullptr;
    }
    if (thumbnail_ == Thumbnail::video && !video_) {
        video_ = new VideoThumbnailView(QString::fromStdString(config_.mediaPath->path()), this);
        thumbnailSlot_->addWidget(video_);
    }
    if (thumbnail_ == Thumbnail::image) {
        image_->setPixmap(filledThumbnail(
            loadThumbnailImage(QString::fromStdString(config_.mediaPath->path()), kThumbnailSize),
            kThumbnailSize));
    } else {
        image_->clear();
    }
    // The slot keeps its 48 points whenever a path is set, even when nothing can be drawn.
    image_->setVisible(config_.mediaPath && thumbnail_ != Thumbnail::video);

    const bool hasPath = config_.mediaPath.has_value();
    reveal_->setVisible(hasPath);
    remove_->setVisible(hasPath);
    browse_->setVisible(!hasPath);
    // The owner reads the new height at once (a list sizes its rows from it).
    layout()->invalidate();
    updateGeometry();
    update();
}

QSize MediaRow::sizeHint() const {
    QSize size = QWidget::sizeHint();
    if (config_.mediaPath) size.setHeight(std::max(size.height(), kThumbnailSize + 2 * kPadding));
    return size;
}

QSize MediaRow::minimumSizeHint() const {
    QSize size = QWidget::minimumSizeHint();
    if (config_.mediaPath) size.setHeight(std::max(size.height(), kThumbnailSize + 2 * kPadding));
    return size;
}

void MediaRow::paintEvent(QPaintEvent*) {
    if (!config_.showBackground) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.08);  // the quaternary fill
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()), 8, 8);
}

}  // namespace mantleshade
