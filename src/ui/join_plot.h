#pragma once
// The join positions of a run over its frame numbers: a steady run draws a
// flat line, and a flagged join (join_evidence.h) stands out
// as a red point off it.

#include <QString>
#include <QWidget>

#include <vector>

namespace veltrana::ui {

class JoinPlot : public QWidget {
    Q_OBJECT

public:
    struct Point {
        int frame = 0;
        double join = 0; // rows of the previous frame
        bool bad = false;
    };

    explicit JoinPlot(QWidget* parent = nullptr);

    // Back to no joins; the text is what the empty plot says.
    void clear(const QString& placeholder);
    void addJoin(int frame, double join, bool bad);

    const std::vector<Point>& points() const { return joins; }

    // The area the points are drawn in, and where a point lies in it.
    QRectF plotRect() const;
    QPointF positionOf(const Point& point) const;
    // The frames and the join rows the plot spans.
    double lowestJoin() const;
    double highestJoin() const;
    int firstFrame() const;
    int lastFrame() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString placeholder;
    std::vector<Point> joins;
};

} // namespace veltrana::ui
