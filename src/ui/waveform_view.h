#pragma once
// The sound recovered so far, drawn as a waveform, with a mark at every join.
//
// Each frame gives its samples up to where the next frame joins it, as the
// joined sound does; the latest frame, whose successor is still to come,
// gives all of them. Each frame is drawn about its own mean, as "-DC" takes
// it, so that steps in the frames' levels do not hide the sound. A frame's
// part is kept as a min/max envelope of at most kBinsPerFrame pairs, so a long
// reel costs little memory and drawing it stays quick.

#include <QString>
#include <QWidget>

#include <cstddef>
#include <optional>
#include <vector>

namespace veltrana::ui {

class WaveformView : public QWidget {
    Q_OBJECT

public:
    // Where a frame joins the one before, in samples of the sound.
    struct JoinMark {
        int frame = 0;
        double position = 0;
        bool bad = false; // flagged (join_evidence.h)
    };

    // The envelope of one frame's part of the sound.
    static constexpr std::size_t kBinsPerFrame = 256;

    explicit WaveformView(QWidget* parent = nullptr);

    // Back to no sound; the text is what the empty view says.
    void clear(const QString& placeholder);
    // The next frame of the run: its samples and where it joins the frame
    // before (in that frame's samples), when it does.
    void addFrame(int frame, const std::vector<float>& samples, std::optional<double> join,
                  bool badJoin);

    int frameCount() const { return frames; }
    // Samples of the sound so far, the latest frame whole.
    std::size_t length() const { return latestStart + latest.size(); }
    const std::vector<JoinMark>& joinMarks() const { return marks; }

    // The area the sound is drawn in, and the x of a position in the sound.
    QRectF plotRect() const;
    double xOf(double position) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // A frame's part of the sound, as its envelope.
    struct Part {
        std::size_t start = 0;
        std::size_t length = 0;
        std::vector<float> lows;
        std::vector<float> highs;
    };

    void keep(std::size_t count);

    QString placeholder;
    std::vector<Part> parts;
    std::vector<float> latest; // the latest frame, about its mean
    std::size_t latestStart = 0;
    std::vector<JoinMark> marks;
    float peak = 0; // the largest distance from a frame's mean so far
    int frames = 0;
};

} // namespace veltrana::ui
