#pragma once

#include <QImage>
#include <QPixmap>
#include <QWidget>

namespace desktop {

// Paints an image scaled to fit, centred, on black. A null image paints black.
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
    QPixmap scaled_;  // the image at its painted size, made once per size
};

}  // namespace desktop
