#pragma once
// The latest frame's picture with what the job measured on it drawn over it:
// the frame bounds the trim kept, the soundtrack band read as sound (and on a
// full-aperture scan the film's edge beside it) and, in a film run, the
// regions cut into movie frames.
//
// The picture is the scan as it lies in its file, downscaled; every overlay
// is given in pixels of the measured scan (geometry/scan_view.h), placed where
// they lie in the file, and lands on the picture through one scale, the
// picture's width over the scan's.

#include "job/preview.h"

#include <QImage>
#include <QRectF>
#include <QWidget>

#include <optional>
#include <vector>

namespace veltrana::ui {

class FramePictureView : public QWidget {
    Q_OBJECT

public:
    explicit FramePictureView(QWidget* parent = nullptr);

    // Back to no picture.
    void clear();
    // Shows a frame's picture with the numbers it was taken with.
    void showPicture(const FramePreview& numbers, const QImage& picture);

    bool hasPicture() const { return !image.isNull(); }
    const QImage& picture() const { return image; }
    // The frame whose picture is shown (0 before any).
    int frame() const { return hasPicture() ? shown.frame : 0; }

    // Where things are drawn, in widget coordinates. The picture keeps its
    // proportions and is centred in the widget.
    QRectF pictureRect() const;
    // Widget pixels per scan pixel.
    double scanScale() const;
    // The columns the trim kept, over the scan's whole height.
    std::optional<QRectF> boundsRect() const;
    // The soundtrack band: its rows, within the kept columns.
    std::optional<QRectF> bandRect() const;
    // The film job's cut regions.
    std::vector<QRectF> cutRects() const;
    // A full-aperture scan's film edge on the band's side: a line one scan
    // pixel wide across the whole picture.
    std::optional<QRectF> filmEdgeRect() const;

    // The overlays' colours, for a legend.
    static QColor boundsColour();
    static QColor bandColour();
    static QColor cutColour();
    static QColor filmEdgeColour();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRectF scanRect(double x, double y, double width, double height) const;

    QImage image;
    FramePreview shown; // without its samples
};

} // namespace veltrana::ui
