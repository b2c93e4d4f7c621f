#pragma once

#include <QImage>
#include <QWidget>

namespace desktop {

// Paints an image scaled to fit, centred, on black. A null image paints black. The scaled
// picture comes from ImageCache, so a view of a size that was prepared ahead only copies pixels.
class ImageView : public QWidget {
    Q_OBJECT

  public:
    explicit ImageView(QWidget* parent = nullptr);

    void setImage(const QImage& image);
    const QImage& image() const { return image_; }
    // Where the image lands inside a view of `size`.
    static QRect fittedRect(const QSize& imageSize, const QSize& size);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage image_;
    QImage scaled_;  // the image at its painted size
};

}  // namespace desktop
