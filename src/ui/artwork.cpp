#include "ui/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace veltrana::ui {
namespace {

const QColor kFilmBase(43, 34, 26);
const QColor kPerforation(236, 232, 218);
const QColor kTrackLight(196, 190, 170);

// One row of perforations, 4 x 5 pixels every 7 pixels.
void drawPerforations(QPainter& painter, int top) {
    for (int x = 2; x + 4 <= kRotationPictureWidth; x += 7) {
        painter.fillRect(x, top, 4, 5, kPerforation);
    }
}

// The track as stripes across the band, spaced closer and wider as the sound
// changes pitch, with a dark edge above and below.
void drawSoundtrackBand(QPainter& painter, int top, int height) {
    painter.fillRect(0, top, kRotationPictureWidth, height, QColor(20, 16, 12));
    for (int x = 0; x < kRotationPictureWidth; ++x) {
        const double phase = 1.9 * x + 4.0 * std::sin(x * 0.11);
        if (std::sin(phase) > 0.1) {
            painter.fillRect(x, top + 1, 1, height - 2, kTrackLight);
        }
    }
}

// Three picture frames: a sky over a field, with a sun, so that the frames
// read as pictures and not as holes.
void drawFrames(QPainter& painter, int top, int height) {
    for (int i = 0; i < 3; ++i) {
        const QRect frame(1 + i * 18, top, 17, height);
        QLinearGradient sky(frame.topLeft(), frame.bottomLeft());
        sky.setColorAt(0.0, QColor(120, 170, 225));
        sky.setColorAt(0.6, QColor(200, 225, 245));
        sky.setColorAt(0.61, QColor(110, 160, 80));
        sky.setColorAt(1.0, QColor(70, 120, 50));
        painter.fillRect(frame, sky);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(250, 215, 90));
        painter.drawEllipse(QPointF(frame.left() + 5 + i * 3, frame.top() + 6), 2.5, 2.5);
    }
}

} // namespace

QPixmap trackSidePicture(TrackSide side) {
    if (!isUpright(side)) {
        return frameRotationPicture(side == TrackSide::Top);
    }
    // the UP strip turned so that later film lies lower: its top edge left
    QImage upright = frameRotationPicture(true).toImage().transformed(QTransform().rotate(-90));
    if (side == TrackSide::Right) {
        upright = upright.mirrored(true, false);
    }
    return QPixmap::fromImage(upright);
}

QPixmap frameRotationPicture(bool soundtrackUp) {
    QPixmap picture(kRotationPictureWidth, kRotationPictureHeight);
    picture.fill(kFilmBase);
    QPainter painter(&picture);
    // perforation rows along both edges
    drawPerforations(painter, 2);
    drawPerforations(painter, kRotationPictureHeight - 7);
    // between them: the band (6 rows) and the frames (28 rows), band first for UP
    constexpr int kInnerTop = 9;
    constexpr int kBandHeight = 6;
    constexpr int kFrameHeight = 28;
    if (soundtrackUp) {
        drawSoundtrackBand(painter, kInnerTop, kBandHeight);
        drawFrames(painter, kInnerTop + kBandHeight + 1, kFrameHeight);
    } else {
        drawFrames(painter, kInnerTop, kFrameHeight);
        drawSoundtrackBand(painter, kInnerTop + kFrameHeight + 1, kBandHeight);
    }
    return picture;
}

QIcon veltranaIcon() {
    constexpr int kSize = 256;
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    // a strip of film across the middle
    const QRectF strip(8, 56, 240, 144);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kFilmBase);
    painter.drawRoundedRect(strip, 18, 18);
    painter.setBrush(kPerforation);
    for (int x = 22; x < 240; x += 36) {
        painter.drawRoundedRect(QRectF(x, 66, 20, 20), 4, 4);
        painter.drawRoundedRect(QRectF(x, 170, 20, 20), 4, 4);
    }

    // the sound wave read off the film
    QPainterPath wave;
    for (int x = 20; x <= 236; x += 2) {
        const double y = 128 - 30 * std::sin((x - 20) * 0.07) * std::cos((x - 20) * 0.017);
        if (x == 20) {
            wave.moveTo(x, y);
        } else {
            wave.lineTo(x, y);
        }
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(255, 190, 60), 12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(wave);
    painter.end();

    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(pixmap.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    return icon;
}

} // namespace veltrana::ui
