#pragma once
// Small line plots as standalone SVG files, for the run report: axes with
// round ticks, lines, dots, filled envelopes and marks. A browser shows them
// through <img>, so they hold no scripts and no links.

#include <string>
#include <vector>

namespace veltrana {

struct PlotPoint {
    double x = 0;
    double y = 0;
};

class SvgPlot {
public:
    SvgPlot(int width, int height, std::string xLabel, std::string yLabel);

    // The ranges shown; a range of no width is widened around its value.
    void setX(double low, double high);
    void setY(double low, double high);
    // Both ranges fitted to points (NaN points ignored), y with a margin.
    static void fit(const std::vector<PlotPoint>& points, double& low, double& high, bool isX);

    // A line through the points; a NaN point breaks it.
    void line(const std::vector<PlotPoint>& points, const std::string& colour, double width = 1.5,
              bool dashed = false);
    void dots(const std::vector<PlotPoint>& points, const std::string& colour, double radius = 2.5);
    // The area between low and high at each x (x ascending).
    void envelope(const std::vector<double>& xs, const std::vector<double>& lows,
                  const std::vector<double>& highs, const std::string& colour);
    void verticalMark(double x, const std::string& colour, bool dashed = true);
    void horizontalMark(double y, const std::string& colour, bool dashed = true);
    // A line of text above the plot area; add notes before drawing, since
    // each one moves the plot area down.
    void note(const std::string& text);

    std::string svg() const;

private:
    int top() const;
    double px(double x) const;
    double py(double y) const;

    int width;
    int height;
    std::string xLabel;
    std::string yLabel;
    double x0 = 0, x1 = 1, y0 = 0, y1 = 1;
    std::string body;
    std::vector<std::string> notes;
};

// Escapes text for XML and HTML; bytes that are no UTF-8 (a file name may
// hold any) become U+FFFD, as the page and plots are declared UTF-8.
std::string escapeMarkup(const std::string& text);

} // namespace veltrana
