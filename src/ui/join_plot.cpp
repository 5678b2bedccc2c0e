#include "ui/join_plot.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>

namespace veltrana::ui {
namespace {

const QColor kBackground(250, 250, 250);
const QColor kFrameLine(190, 190, 190);
const QColor kGrid(225, 225, 225);
const QColor kLine(40, 90, 160);
const QColor kBad(220, 30, 30);
const QColor kText(90, 90, 90);

constexpr int kTitleHeight = 16;
// The least span of rows the plot shows: the jitter of a steady run stays a
// flat line, and a few rows off the median are visibly off it.
constexpr double kLeastRowSpan = 8.0;

} // namespace

JoinPlot::JoinPlot(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("joinPlot"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void JoinPlot::clear(const QString& text) {
    placeholder = text;
    joins.clear();
    update();
}

void JoinPlot::addJoin(int frame, double join, bool bad) {
    joins.push_back({frame, join, bad});
    update();
}

double JoinPlot::lowestJoin() const {
    if (joins.empty()) {
        return 0;
    }
    const auto [low, high] = std::minmax_element(
        joins.begin(), joins.end(), [](const Point& a, const Point& b) { return a.join < b.join; });
    const double middle = (low->join + high->join) / 2;
    return std::min(low->join, middle - kLeastRowSpan / 2);
}

double JoinPlot::highestJoin() const {
    if (joins.empty()) {
        return 0;
    }
    const auto [low, high] = std::minmax_element(
        joins.begin(), joins.end(), [](const Point& a, const Point& b) { return a.join < b.join; });
    const double middle = (low->join + high->join) / 2;
    return std::max(high->join, middle + kLeastRowSpan / 2);
}

int JoinPlot::firstFrame() const {
    return joins.empty() ? 0 : joins.front().frame;
}

int JoinPlot::lastFrame() const {
    return joins.empty() ? 0 : joins.back().frame;
}

QRectF JoinPlot::plotRect() const {
    // room for the rows' labels on the left and the frames' below
    const QFontMetrics metrics = fontMetrics();
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("00000")) + 6;
    const int labelHeight = metrics.height() + 2;
    // inset so that the largest point at an edge is drawn whole
    return QRectF(rect()).adjusted(labelWidth + 6, kTitleHeight + 6, -10, -labelHeight - 6);
}

QPointF JoinPlot::positionOf(const Point& point) const {
    const QRectF plot = plotRect();
    const int first = firstFrame();
    const int last = lastFrame();
    const double x = last > first ? plot.left() + plot.width() * (point.frame - first) /
                                                      static_cast<double>(last - first)
                                  : plot.center().x();
    const double low = lowestJoin();
    const double high = highestJoin();
    const double y = plot.bottom() - plot.height() * (point.join - low) / (high - low);
    return {x, y};
}

QSize JoinPlot::sizeHint() const {
    return {240, 150};
}

QSize JoinPlot::minimumSizeHint() const {
    return {160, 110};
}

void JoinPlot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    painter.setPen(kFrameLine);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.setPen(kText);
    painter.drawText(QRect(6, 1, width() - 12, kTitleHeight - 1), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Join position (rows) by frame"));
    const QRectF plot = plotRect();
    if (joins.empty()) {
        painter.drawText(QRectF(rect()).adjusted(4, kTitleHeight, -4, -4),
                         Qt::AlignCenter | Qt::TextWordWrap, placeholder);
        return;
    }

    // the span's two ends, labelled; the frames below
    const QFontMetrics metrics = fontMetrics();
    const double low = lowestJoin();
    const double high = highestJoin();
    painter.setPen(kGrid);
    painter.drawLine(QPointF(plot.left(), plot.top()), QPointF(plot.right(), plot.top()));
    painter.drawLine(QPointF(plot.left(), plot.bottom()), QPointF(plot.right(), plot.bottom()));
    painter.setPen(kText);
    const double labelRight = plot.left() - 6;
    for (const auto& [value, y] : {std::pair{high, plot.top()}, std::pair{low, plot.bottom()}}) {
        painter.drawText(QRectF(0, y - metrics.height() / 2.0, labelRight, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(value, 'f', 0));
    }
    const QRectF frameLabels(plot.left(), plot.bottom() + 4, plot.width(), metrics.height());
    painter.drawText(frameLabels, Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("frame %1").arg(firstFrame()));
    if (lastFrame() > firstFrame()) {
        painter.drawText(frameLabels, Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(lastFrame()));
    }

    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath line;
    for (const Point& point : joins) {
        if (line.elementCount() == 0) {
            line.moveTo(positionOf(point));
        } else {
            line.lineTo(positionOf(point));
        }
    }
    painter.setPen(QPen(kLine, 1.2));
    painter.drawPath(line);
    for (const Point& point : joins) {
        const QPointF at = positionOf(point);
        if (point.bad) {
            painter.setPen(QPen(kBad, 1.5));
            painter.setBrush(kBad);
            painter.drawEllipse(at, 4.0, 4.0);
        } else {
            painter.setPen(Qt::NoPen);
            painter.setBrush(kLine);
            painter.drawEllipse(at, 2.2, 2.2);
        }
    }
}

} // namespace veltrana::ui
