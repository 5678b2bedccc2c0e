#include "ui/frame_picture_view.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPen>

#include <algorithm>

namespace veltrana::ui {
namespace {

// The light box the picture lies on: dark, so that a pale scan's edges show.
const QColor kBackground(40, 40, 40);
const QColor kPlaceholderText(170, 170, 170);
// the columns the trim cut away, darkened rather than hidden
const QColor kTrimmedAway(0, 0, 0, 130);
const QColor kLabelBackground(0, 0, 0, 150);

} // namespace

FramePictureView::FramePictureView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("framePictureView"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QColor FramePictureView::boundsColour() {
    return {70, 220, 110};
}

QColor FramePictureView::filmEdgeColour() {
    return {0, 200, 255};
}

QColor FramePictureView::bandColour() {
    return {255, 170, 30};
}

QColor FramePictureView::cutColour() {
    return {60, 190, 255};
}

void FramePictureView::clear() {
    image = QImage();
    shown = FramePreview{};
    update();
}

void FramePictureView::showPicture(const FramePreview& numbers, const QImage& picture) {
    image = picture;
    shown = numbers;
    // the samples are drawn by the waveform, not here
    shown.samples.clear();
    shown.samples.shrink_to_fit();
    update();
}

QRectF FramePictureView::pictureRect() const {
    if (image.isNull()) {
        return {};
    }
    const QRectF room = QRectF(contentsRect()).adjusted(2, 2, -2, -2);
    const double zoom = std::min(room.width() / image.width(), room.height() / image.height());
    const QSizeF size(image.width() * zoom, image.height() * zoom);
    return {room.center().x() - size.width() / 2, room.center().y() - size.height() / 2,
            size.width(), size.height()};
}

double FramePictureView::scanScale() const {
    if (image.isNull() || shown.scanSize.width <= 0) {
        return 0;
    }
    // the picture's own scale (picture columns per scan column) times the
    // zoom it is drawn at; the same across and along, as the picture was
    // scaled evenly
    const double pictureScale = static_cast<double>(image.width()) / shown.scanSize.width;
    const double zoom = pictureRect().width() / image.width();
    return pictureScale * zoom;
}

QRectF FramePictureView::scanRect(double x, double y, double width, double height) const {
    // where the measured scan's rectangle lies in the file (as storedRectOf)
    const double fileWidth = shown.scanSize.width;
    const double fileHeight = shown.scanSize.height;
    QRectF file(x, y, width, height);
    if (shown.side == TrackSide::Left) {
        file = QRectF(y, fileHeight - x - width, height, width);
    } else if (shown.side == TrackSide::Right) {
        file = QRectF(fileWidth - y - height, fileHeight - x - width, height, width);
    }
    const double scale = scanScale();
    const QPointF origin = pictureRect().topLeft();
    return {origin.x() + file.x() * scale, origin.y() + file.y() * scale, file.width() * scale,
            file.height() * scale};
}

std::optional<QRectF> FramePictureView::boundsRect() const {
    if (image.isNull() || shown.bounds.right < shown.bounds.left) {
        return std::nullopt;
    }
    // left..right are kept columns, both included
    return scanRect(shown.bounds.left, 0, shown.bounds.right - shown.bounds.left + 1,
                    measuredSizeOf(shown.side, shown.scanSize).height);
}

std::optional<QRectF> FramePictureView::filmEdgeRect() const {
    if (image.isNull() || !shown.filmEdge) {
        return std::nullopt;
    }
    return scanRect(0, *shown.filmEdge, measuredSizeOf(shown.side, shown.scanSize).width, 1);
}

std::optional<QRectF> FramePictureView::bandRect() const {
    if (image.isNull() || !shown.band || shown.band->last < shown.band->first) {
        return std::nullopt;
    }
    return scanRect(shown.bounds.left, shown.band->first,
                    shown.bounds.right - shown.bounds.left + 1,
                    shown.band->last - shown.band->first + 1);
}

std::vector<QRectF> FramePictureView::cutRects() const {
    std::vector<QRectF> rects;
    if (image.isNull()) {
        return rects;
    }
    for (const cv::Rect& cut : shown.cuts) {
        rects.push_back(scanRect(cut.x, cut.y, cut.width, cut.height));
    }
    return rects;
}

QSize FramePictureView::sizeHint() const {
    return {220, 220};
}

QSize FramePictureView::minimumSizeHint() const {
    return {120, 120};
}

void FramePictureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    if (image.isNull()) {
        painter.setPen(kPlaceholderText);
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap,
                         QStringLiteral("The frames of a run appear here"));
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF picture = pictureRect();
    painter.drawImage(picture, image);

    if (const std::optional<QRectF> bounds = boundsRect()) {
        const QRectF kept = bounds->intersected(picture);
        painter.setPen(QPen(boundsColour(), 2));
        if (isUpright(shown.side)) {
            // the film runs down the picture: the trim keeps rows
            painter.fillRect(
                QRectF(picture.left(), picture.top(), picture.width(), kept.top() - picture.top()),
                kTrimmedAway);
            painter.fillRect(QRectF(picture.left(), kept.bottom(), picture.width(),
                                    picture.bottom() - kept.bottom()),
                             kTrimmedAway);
            painter.drawLine(QPointF(picture.left(), kept.top()),
                             QPointF(picture.right(), kept.top()));
            painter.drawLine(QPointF(picture.left(), kept.bottom()),
                             QPointF(picture.right(), kept.bottom()));
        } else {
            painter.fillRect(QRectF(picture.left(), picture.top(), kept.left() - picture.left(),
                                    picture.height()),
                             kTrimmedAway);
            painter.fillRect(QRectF(kept.right(), picture.top(), picture.right() - kept.right(),
                                    picture.height()),
                             kTrimmedAway);
            painter.drawLine(QPointF(kept.left(), picture.top()),
                             QPointF(kept.left(), picture.bottom()));
            painter.drawLine(QPointF(kept.right(), picture.top()),
                             QPointF(kept.right(), picture.bottom()));
        }
    }
    if (const std::optional<QRectF> edge = filmEdgeRect()) {
        painter.setPen(QPen(filmEdgeColour(), 2));
        const QRectF line = edge->intersected(picture);
        if (isUpright(shown.side)) {
            painter.drawLine(QPointF(line.left(), picture.top()),
                             QPointF(line.left(), picture.bottom()));
        } else {
            painter.drawLine(QPointF(picture.left(), line.top()),
                             QPointF(picture.right(), line.top()));
        }
    }
    if (const std::optional<QRectF> band = bandRect()) {
        QColor fill = bandColour();
        fill.setAlpha(70);
        painter.fillRect(*band, fill);
        painter.setPen(QPen(bandColour(), 2));
        painter.drawRect(band->adjusted(1, 1, -1, -1));
    }
    QColor cutFill = cutColour();
    cutFill.setAlpha(45);
    for (const QRectF& cut : cutRects()) {
        painter.fillRect(cut, cutFill);
        painter.setPen(QPen(cutColour(), 2, Qt::DashLine));
        painter.drawRect(cut.adjusted(1, 1, -1, -1));
    }

    // Pictures come a few times a second, the numbers with every frame: the
    // picture says which frame it is, as it may be a frame or two behind.
    const QString label = QStringLiteral("frame %1").arg(shown.frame);
    const QFontMetrics metrics = fontMetrics();
    const QRectF labelRect(picture.left() + 4, picture.bottom() - metrics.height() - 6,
                           metrics.horizontalAdvance(label) + 8, metrics.height() + 2);
    painter.fillRect(labelRect, kLabelBackground);
    painter.setPen(Qt::white);
    painter.drawText(labelRect, Qt::AlignCenter, label);
}

} // namespace veltrana::ui
