#include "ui/waveform_view.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace veltrana::ui {
namespace {

const QColor kBackground(250, 250, 250);
const QColor kFrameLine(190, 190, 190);
const QColor kAxis(215, 215, 215);
const QColor kWave(40, 90, 160);
const QColor kOtherFrame(236, 236, 236);
const QColor kJoin(70, 70, 70);
const QColor kBadJoin(220, 30, 30);
const QColor kTitle(90, 90, 90);

// room for the title above the plot
constexpr int kTitleHeight = 16;
// A join's tick at the plot's top and bottom edges, over the sound.
constexpr double kTickLength = 5;
// Below these widths of a frame in pixels, the frames' shading and the ticks
// of the good joins would only be noise, and are left out.
constexpr double kLeastShadedFrame = 6;
constexpr double kLeastTickedFrame = 3;

} // namespace

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("waveformView"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void WaveformView::clear(const QString& text) {
    placeholder = text;
    parts.clear();
    latest.clear();
    latestStart = 0;
    marks.clear();
    peak = 0;
    frames = 0;
    update();
}

void WaveformView::addFrame(int frame, const std::vector<float>& samples,
                            std::optional<double> join, bool badJoin) {
    if (frames > 0) {
        // the join tells how much of the latest frame the sound keeps
        const double at = join ? std::clamp(*join, 0.0, static_cast<double>(latest.size()))
                               : static_cast<double>(latest.size());
        keep(static_cast<std::size_t>(std::lround(at)));
        if (join) {
            marks.push_back({frame, static_cast<double>(parts.back().start) + at, badJoin});
        }
    }
    const double mean = samples.empty()
                            ? 0.0
                            : std::accumulate(samples.begin(), samples.end(), 0.0) / samples.size();
    latest.resize(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        latest[i] = static_cast<float>(samples[i] - mean);
        peak = std::max(peak, std::abs(latest[i]));
    }
    ++frames;
    update();
}

// The latest frame's first `count` samples become a part of the sound.
void WaveformView::keep(std::size_t count) {
    Part part;
    part.start = latestStart;
    part.length = count;
    const std::size_t bins = std::min(kBinsPerFrame, count);
    part.lows.resize(bins);
    part.highs.resize(bins);
    for (std::size_t b = 0; b < bins; ++b) {
        const auto first = latest.begin() + static_cast<std::ptrdiff_t>(b * count / bins);
        const auto last = latest.begin() + static_cast<std::ptrdiff_t>((b + 1) * count / bins);
        const auto [low, high] = std::minmax_element(first, last);
        part.lows[b] = *low;
        part.highs[b] = *high;
    }
    parts.push_back(std::move(part));
    latestStart += count;
    latest.clear();
}

QRectF WaveformView::plotRect() const {
    return QRectF(rect()).adjusted(4, kTitleHeight, -4, -4);
}

double WaveformView::xOf(double position) const {
    const QRectF plot = plotRect();
    const double total = static_cast<double>(std::max<std::size_t>(length(), 1));
    return plot.left() + plot.width() * position / total;
}

QSize WaveformView::sizeHint() const {
    return {400, 96};
}

QSize WaveformView::minimumSizeHint() const {
    return {200, 96};
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    painter.setPen(kFrameLine);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.setPen(kTitle);
    painter.drawText(QRect(6, 1, width() - 12, kTitleHeight - 1), Qt::AlignLeft | Qt::AlignVCenter,
                     frames > 0 ? QStringLiteral("Sound (%1 frames)").arg(frames)
                                : QStringLiteral("Sound"));
    const QRectF plot = plotRect();
    if (frames == 0) {
        painter.drawText(plot, Qt::AlignCenter, placeholder);
        return;
    }
    // every other frame shaded, so that the frames can be told apart
    const double frameWidth = plot.width() / frames;
    if (frameWidth >= kLeastShadedFrame) {
        for (std::size_t i = 1; i < parts.size(); i += 2) {
            const double left = xOf(static_cast<double>(parts[i].start));
            const double right = xOf(static_cast<double>(parts[i].start + parts[i].length));
            painter.fillRect(QRectF(left, plot.top(), right - left, plot.height()), kOtherFrame);
        }
        if (parts.size() % 2 == 1) {
            const double left = xOf(static_cast<double>(latestStart));
            painter.fillRect(QRectF(left, plot.top(), plot.right() - left, plot.height()),
                             kOtherFrame);
        }
    }
    painter.setPen(kAxis);
    painter.drawLine(QPointF(plot.left(), plot.center().y()),
                     QPointF(plot.right(), plot.center().y()));

    // the envelope of every pixel column: the lowest and highest value of
    // the sound under it
    const int columns = std::max(1, static_cast<int>(plot.width()));
    std::vector<float> lows(static_cast<std::size_t>(columns), 0.0f);
    std::vector<float> highs(static_cast<std::size_t>(columns), 0.0f);
    std::vector<bool> filled(static_cast<std::size_t>(columns), false);
    const double perSample = columns / static_cast<double>(std::max<std::size_t>(length(), 1));
    const auto add = [&](double from, double to, float low, float high) {
        const int first =
            std::clamp(static_cast<int>(std::floor(from * perSample)), 0, columns - 1);
        const int last =
            std::clamp(static_cast<int>(std::ceil(to * perSample)) - 1, first, columns - 1);
        for (int c = first; c <= last; ++c) {
            const auto i = static_cast<std::size_t>(c);
            lows[i] = filled[i] ? std::min(lows[i], low) : low;
            highs[i] = filled[i] ? std::max(highs[i], high) : high;
            filled[i] = true;
        }
    };
    for (const Part& part : parts) {
        const std::size_t bins = part.lows.size();
        for (std::size_t b = 0; b < bins; ++b) {
            add(static_cast<double>(part.start + b * part.length / bins),
                static_cast<double>(part.start + (b + 1) * part.length / bins), part.lows[b],
                part.highs[b]);
        }
    }
    for (std::size_t i = 0; i < latest.size(); ++i) {
        add(static_cast<double>(latestStart + i), static_cast<double>(latestStart + i + 1),
            latest[i], latest[i]);
    }

    // the loudest sample short of the edges, where the joins' ticks are
    const double half = plot.height() / 2 - kTickLength - 1;
    const double scale = peak > 0 ? half / peak : 0.0;
    painter.setPen(kWave);
    for (int c = 0; c < columns; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (!filled[i]) {
            continue;
        }
        const double x = plot.left() + c + 0.5;
        painter.drawLine(QPointF(x, plot.center().y() - highs[i] * scale),
                         QPointF(x, plot.center().y() - lows[i] * scale));
    }

    // the joins over the sound: a tick at either edge, and a bad one in red
    // across the whole height
    for (const JoinMark& mark : marks) {
        const double x = xOf(mark.position);
        if (mark.bad) {
            painter.setPen(QPen(kBadJoin, 2));
            painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        } else if (frameWidth >= kLeastTickedFrame) {
            painter.setPen(QPen(kJoin, 2));
            painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.top() + kTickLength));
            painter.drawLine(QPointF(x, plot.bottom() - kTickLength), QPointF(x, plot.bottom()));
        }
    }
}

} // namespace veltrana::ui
