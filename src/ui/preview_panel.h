#pragma once
// The preview panel of the main window: what a running job measures, as it
// measures it. The latest frame's picture with the frame bounds, the
// soundtrack band and the film job's cut regions drawn over it; the sound
// recovered so far with a mark at every join; and the join positions over the
// frame numbers, where a bad join stands out.
//
// It lives on the window's thread: the window hands it the job's previews
// through queued calls.

#include "job/preview.h"

#include <QGroupBox>
#include <QImage>

#include <opencv2/core.hpp>

#include <optional>

class QLabel;

namespace veltrana::ui {

class FramePictureView;
class JoinPlot;
class WaveformView;

// A job's preview picture (BGR, or grey) as an image of its own, so that it
// can go to another thread; 16-bit and floating-point pictures are brought
// to 8 bits.
QImage previewImage(const cv::Mat& picture);

class PreviewPanel : public QGroupBox {
    Q_OBJECT

public:
    enum class Run { Soundtrack, Film };

    explicit PreviewPanel(QWidget* parent = nullptr);

    // Empties the panel for a new run of this kind.
    void clear(Run run);
    // A frame's numbers; every frame of a run comes here, in order.
    void showFrame(const FramePreview& preview);
    // A frame's picture, with the numbers it was measured with.
    void showPicture(const FramePreview& preview, const QImage& picture);
    // A warning about the whole run, kept until the next clear.
    void showWarning(const RunWarning& warning);
    const QLabel* warningLabel() const { return warnings; }

    int framesShown() const { return frames; }

private:
    void showCaption(const FramePreview& preview);

    FramePictureView* picture;
    WaveformView* waveform;
    JoinPlot* joins;
    QLabel* caption;
    QLabel* details;
    QLabel* warnings;
    QLabel* legend;

    Run run = Run::Soundtrack;
    int frames = 0;
    std::optional<ScanResolution> resolution;
};

} // namespace veltrana::ui
