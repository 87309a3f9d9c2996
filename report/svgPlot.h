// A small SVG writer for the report's plots: one plot area with ticked axes and their
// units, and on it bands (min … max areas), lines, histogram columns, marks and
// reference lines, with a legend, a title and a text alternative. Colours are the
// Okabe–Ito palette, which stays distinct for colour-blind readers, and marks differ by
// shape as well, so a black-and-white print still tells them apart.
//
// The plot area carries its data range (data-x-min … data-y-max, data-y-scale) so that a
// test can map any drawn mark back to the value it stands for.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "report/axisTicks.h"
#include "report/decimate.h"

namespace report {

enum class Colour { black, orange, skyBlue, green, yellow, blue, vermillion, purple, grey };
enum class Shape { circle, square, triangle, triangleDown, diamond, cross, plus, star };

// "#E69F00"
const char* colourCode(Colour colour);

enum class Scale { linear, log };
// How a line is drawn: lines of several series that lie on top of each other stay
// apart when their dashes differ.
enum class Dash { solid, dashed, dotted, dashDotted };

struct Axis {
    std::string label; // "Interval"
    std::string unit;  // "µs"; empty for a plain number
    double min = 0, max = 1;
    std::vector<double> ticks;
    double step = 1; // for the tick labels' decimals
    Scale scale = Scale::linear;
    // Tick labels of 1000 and more as "1k", "2.5M" (counts on a log axis); sizes such as
    // 1024 are written whole.
    bool compactLabels = false;
};

// An axis over a ticked range; a log axis writes large labels compactly.
Axis axisFromRange(const TickedRange& range, std::string label, std::string unit,
                   Scale scale = Scale::linear);

// Columns of a histogram: x0 … x1 at height y.
struct Column {
    double x0 = 0, x1 = 0, y = 0;
};

// A mark at a point, with attributes for tests (already formatted: data-kind="gap"
// data-t="3.125") and a tooltip.
struct Mark {
    double x = 0, y = 0;
    std::string attributes;
    std::string tip;
};

// The drawing's size in pixels; the plot area is what the margins leave.
inline constexpr double plotWidth = 720;
inline constexpr double plotHeight = 300;

class SvgPlot {
  public:
    // `name` tells the plot apart in the document (data-plot, ids); `title` is the
    // plot's title and `description` its text alternative.
    SvgPlot(std::string name, std::string title, std::string description, Axis x, Axis y);

    // Pixel columns the plot area spans: how finely a series is worth decimating.
    static int columns();

    // Replaces the text alternative (when it is known only after the layers).
    void describe(std::string description) { description_ = std::move(description); }

    void band(std::vector<RangePoint> ranges, Colour colour, std::string legend);
    void line(std::vector<Point> points, Colour colour, std::string legend, Dash dash = Dash::solid);
    void columnsOf(std::vector<Column> columns, Colour colour, std::string legend);
    // Marks at their points; with lane ≥ 0 the marks stand in that row at the top of the
    // plot area, whatever their y (events along a time axis). Hollow marks are drawn as
    // outlines, and with sizes of their own (1: the usual) marks of several series at one
    // point all stay visible.
    void marks(std::vector<Mark> marks, Colour colour, Shape shape, std::string legend, int lane = -1,
               bool hollow = false, double size = 1);
    // A series of an earlier run to compare with: grey, dashed, faint, and with hollow
    // marks. Layers are drawn in the order added, so one added first lies under this run's.
    void faintLine(std::vector<Point> points, std::string legend);
    void faintMarks(std::vector<Mark> marks, Shape shape, std::string legend);
    void horizontalRule(double y, Colour colour, std::string legend);
    void verticalRule(double x, Colour colour, std::string legend);

    // Points drawn: vertices of lines, bands and columns, marks, rule ends.
    size_t points() const;

    std::string svg() const;

  private:
    enum class LayerKind { band, line, columns, marks, horizontalRule, verticalRule };
    struct Layer {
        LayerKind kind = LayerKind::line;
        Colour colour = Colour::black;
        Shape shape = Shape::circle;
        std::string legend;
        Dash dash = Dash::solid;
        bool hollow = false;
        bool faint = false;
        double size = 1;
        int lane = -1;
        double value = 0; // of a rule
        std::vector<RangePoint> ranges;
        std::vector<Point> points;
        std::vector<Column> columns;
        std::vector<Mark> marks;
    };
    struct Geometry {
        double left = 0, top = 0, width = 0, height = 0;
    };
    Geometry geometry() const;
    double toX(const Geometry& g, double x) const;
    double toY(const Geometry& g, double y) const;
    void axes(std::string& out, const Geometry& g) const;
    void legend(std::string& out, const Geometry& g) const;
    void marksOf(std::string& out, const Geometry& g, const Layer& layer) const;

    std::string name_, title_, description_;
    Axis x_, y_;
    std::vector<Layer> layers_;
};

} // namespace report
