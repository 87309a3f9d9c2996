#include "report/svgPlot.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "report/axisTicks.h"
#include "report/markup.h"

namespace report {

Axis axisFromRange(const TickedRange& range, std::string label, std::string unit, Scale scale) {
    Axis axis;
    axis.label = std::move(label);
    axis.unit = std::move(unit);
    axis.min = range.min;
    axis.max = range.max;
    axis.ticks = range.ticks;
    axis.step = range.step;
    axis.scale = scale;
    axis.compactLabels = scale == Scale::log;
    return axis;
}

namespace {

constexpr double marginLeft = 74, marginRight = 18, marginBottom = 46, marginTopBare = 14;
constexpr double legendRowHeight = 18, legendCharWidth = 6.6, legendSwatch = 24, legendGap = 16;
constexpr double laneTop = 9, laneStep = 13;
// The plot area's fill: a colour used nowhere else, so a test finds each plot area in a
// screenshot.
constexpr const char* areaFill = "#FAFAF6";
constexpr const char* gridColour = "#E2E2DE";
constexpr const char* axisColour = "#444444";
// How much of a faint layer (an earlier run's series) shows through.
constexpr const char* faintOpacity = "0.45";

const char* shapePath(Shape shape) {
    switch (shape) {
    case Shape::circle:
        return "M-4 0a4 4 0 1 0 8 0a4 4 0 1 0-8 0z";
    case Shape::square:
        return "M-3.5-3.5h7v7h-7z";
    case Shape::triangle:
        return "M0-4.8L4.6 3.4H-4.6z";
    case Shape::triangleDown:
        return "M0 4.8L4.6-3.4H-4.6z";
    case Shape::diamond:
        return "M0-5L5 0 0 5-5 0z";
    case Shape::cross:
        return "M-4-4L4 4M-4 4L4-4";
    case Shape::plus:
        return "M-5 0H5M0-5V5";
    case Shape::star:
        return "M0-5.2L1.3-1.7 5-1.6 2 .7 3.1 4.3 0 2.2-3.1 4.3-2 .7-5-1.6-1.3-1.7z";
    }
    return "";
}

bool strokedShape(Shape shape) {
    return shape == Shape::cross || shape == Shape::plus;
}

const char* dashArray(Dash dash) {
    switch (dash) {
    case Dash::solid:
        return "";
    case Dash::dashed:
        return "5 3";
    case Dash::dotted:
        return "1.5 3";
    case Dash::dashDotted:
        return "7 3 1.5 3";
    }
    return "";
}

std::string shapeElement(Shape shape, Colour colour, double x, double y, const std::string& extra,
                         bool hollow = false, double size = 1) {
    std::string out = "<path";
    out += extra;
    out += " transform=\"translate(" + pixel(x) + "," + pixel(y) + ")";
    if (size != 1) out += " scale(" + pixel(size) + ")";
    out += "\" d=\"";
    out += shapePath(shape);
    out += "\"";
    if (strokedShape(shape) || hollow) {
        out += " fill=\"none\" stroke=\"";
        out += colourCode(colour);
        out += "\" stroke-width=\"";
        out += pixel((strokedShape(shape) ? 2 : 1.6) / size);
        out += "\"";
    } else {
        out += " fill=\"";
        out += colourCode(colour);
        out += "\" stroke=\"#FFFFFF\" stroke-width=\"0.7\"";
    }
    return out;
}

std::string axisTitle(const Axis& axis) {
    return axis.unit.empty() ? axis.label : axis.label + " (" + axis.unit + ")";
}

double legendItemWidth(const std::string& text) {
    // Code points, not bytes, for the width estimate.
    size_t characters = 0;
    for (unsigned char c : text)
        if ((c & 0xC0u) != 0x80u) ++characters;
    return legendSwatch + 6 + legendCharWidth * double(characters) + legendGap;
}

} // namespace

const char* colourCode(Colour colour) {
    switch (colour) {
    case Colour::black:
        return "#000000";
    case Colour::orange:
        return "#E69F00";
    case Colour::skyBlue:
        return "#56B4E9";
    case Colour::green:
        return "#009E73";
    case Colour::yellow:
        return "#F0E442";
    case Colour::blue:
        return "#0072B2";
    case Colour::vermillion:
        return "#D55E00";
    case Colour::purple:
        return "#CC79A7";
    case Colour::grey:
        return "#777777";
    }
    return "#000000";
}

SvgPlot::SvgPlot(std::string name, std::string title, std::string description, Axis x, Axis y)
    : name_(std::move(name)), title_(std::move(title)), description_(std::move(description)),
      x_(std::move(x)), y_(std::move(y)) {}

int SvgPlot::columns() {
    return int(plotWidth - marginLeft - marginRight) / 2;
}

void SvgPlot::band(std::vector<RangePoint> ranges, Colour colour, std::string legend) {
    Layer layer;
    layer.kind = LayerKind::band;
    layer.colour = colour;
    layer.legend = std::move(legend);
    layer.ranges = std::move(ranges);
    layers_.push_back(std::move(layer));
}

void SvgPlot::line(std::vector<Point> points, Colour colour, std::string legend, Dash dash) {
    Layer layer;
    layer.kind = LayerKind::line;
    layer.colour = colour;
    layer.legend = std::move(legend);
    layer.dash = dash;
    layer.points = std::move(points);
    layers_.push_back(std::move(layer));
}

void SvgPlot::columnsOf(std::vector<Column> columns, Colour colour, std::string legend) {
    Layer layer;
    layer.kind = LayerKind::columns;
    layer.colour = colour;
    layer.legend = std::move(legend);
    layer.columns = std::move(columns);
    layers_.push_back(std::move(layer));
}

void SvgPlot::marks(std::vector<Mark> marks, Colour colour, Shape shape, std::string legend, int lane,
                    bool hollow, double size) {
    Layer layer;
    layer.kind = LayerKind::marks;
    layer.colour = colour;
    layer.shape = shape;
    layer.legend = std::move(legend);
    layer.lane = lane;
    layer.hollow = hollow;
    layer.size = size > 0 ? size : 1;
    layer.marks = std::move(marks);
    layers_.push_back(std::move(layer));
}

void SvgPlot::faintLine(std::vector<Point> points, std::string legend) {
    line(std::move(points), Colour::grey, std::move(legend), Dash::dashed);
    layers_.back().faint = true;
}

void SvgPlot::faintMarks(std::vector<Mark> marks, Shape shape, std::string legend) {
    this->marks(std::move(marks), Colour::grey, shape, std::move(legend), -1, true);
    layers_.back().faint = true;
}

void SvgPlot::horizontalRule(double y, Colour colour, std::string legend) {
    Layer layer;
    layer.kind = LayerKind::horizontalRule;
    layer.colour = colour;
    layer.legend = std::move(legend);
    layer.value = y;
    layers_.push_back(std::move(layer));
}

void SvgPlot::verticalRule(double x, Colour colour, std::string legend) {
    Layer layer;
    layer.kind = LayerKind::verticalRule;
    layer.colour = colour;
    layer.legend = std::move(legend);
    layer.value = x;
    layers_.push_back(std::move(layer));
}

size_t SvgPlot::points() const {
    size_t total = 0;
    for (const Layer& layer : layers_) {
        switch (layer.kind) {
        case LayerKind::band:
            total += 2 * layer.ranges.size();
            break;
        case LayerKind::line:
            total += layer.points.size();
            break;
        case LayerKind::columns:
            total += 2 * layer.columns.size();
            break;
        case LayerKind::marks:
            total += layer.marks.size();
            break;
        case LayerKind::horizontalRule:
        case LayerKind::verticalRule:
            total += 2;
            break;
        }
    }
    return total;
}

SvgPlot::Geometry SvgPlot::geometry() const {
    // The legend's rows above the plot area decide where the area starts.
    const double available = plotWidth - marginLeft - marginRight;
    int rows = 0;
    double used = available;
    for (const Layer& layer : layers_) {
        if (layer.legend.empty()) continue;
        const double width = legendItemWidth(layer.legend);
        if (used + width > available) {
            ++rows;
            used = 0;
        }
        used += width;
    }
    Geometry g;
    g.left = marginLeft;
    g.top = marginTopBare + legendRowHeight * rows;
    g.width = available;
    g.height = plotHeight - g.top - marginBottom;
    return g;
}

double SvgPlot::toX(const Geometry& g, double x) const {
    double fraction = 0;
    if (x_.scale == Scale::log) {
        fraction =
            x > 0 ? (std::log10(x) - std::log10(x_.min)) / (std::log10(x_.max) - std::log10(x_.min)) : 0;
    } else if (x_.max > x_.min) {
        fraction = (x - x_.min) / (x_.max - x_.min);
    }
    if (!std::isfinite(fraction)) fraction = 0;
    return g.left + std::clamp(fraction, 0.0, 1.0) * g.width;
}

double SvgPlot::toY(const Geometry& g, double y) const {
    double fraction = 0;
    if (y_.scale == Scale::log) {
        fraction =
            y > 0 ? (std::log10(y) - std::log10(y_.min)) / (std::log10(y_.max) - std::log10(y_.min)) : 0;
    } else if (y_.max > y_.min) {
        fraction = (y - y_.min) / (y_.max - y_.min);
    }
    if (!std::isfinite(fraction)) fraction = 0;
    return g.top + g.height - std::clamp(fraction, 0.0, 1.0) * g.height;
}

void SvgPlot::marksOf(std::string& out, const Geometry& g, const Layer& layer) const {
    out += layer.faint ? std::string("<g class=\"marks faint\" opacity=\"") + faintOpacity + "\">"
                       : std::string("<g class=\"marks\">");
    for (const Mark& mark : layer.marks) {
        const double py = layer.lane >= 0 ? g.top + laneTop + laneStep * layer.lane : toY(g, mark.y);
        out += shapeElement(layer.shape, layer.colour, toX(g, mark.x), py,
                            std::string(layer.faint ? " class=\"mark faint\"" : " class=\"mark\"") +
                                (mark.attributes.empty() ? "" : " " + mark.attributes),
                            layer.hollow, layer.size);
        if (mark.tip.empty()) {
            out += "/>";
        } else {
            out += "><title>" + escapeMarkup(mark.tip) + "</title></path>";
        }
    }
    out += "</g>";
}

void SvgPlot::axes(std::string& out, const Geometry& g) const {
    const double bottom = g.top + g.height, right = g.left + g.width;
    out += "<g class=\"axes\" stroke=\"";
    out += axisColour;
    out += "\" shape-rendering=\"crispEdges\"><path fill=\"none\" d=\"M" + pixel(g.left - 0.5) + " " +
           pixel(g.top) + "V" + pixel(bottom + 0.5) + "H" + pixel(right) + "\"/></g>";
    out += "<g class=\"ticks\" font-size=\"11\" fill=\"#222222\">";
    for (double tick : x_.ticks) {
        const double px = toX(g, tick);
        out += "<text x=\"" + pixel(px) + "\" y=\"" + pixel(bottom + 16) + "\" text-anchor=\"middle\">" +
               escapeMarkup(tickLabel(tick, x_.step, x_.compactLabels)) + "</text>";
    }
    for (double tick : y_.ticks) {
        const double py = toY(g, tick);
        out += "<text x=\"" + pixel(g.left - 7) + "\" y=\"" + pixel(py + 4) + "\" text-anchor=\"end\">" +
               escapeMarkup(tickLabel(tick, y_.step, y_.compactLabels)) + "</text>";
    }
    out += "</g><g class=\"tick-marks\" stroke=\"";
    out += axisColour;
    out += "\" shape-rendering=\"crispEdges\"><path d=\"";
    for (double tick : x_.ticks)
        out += "M" + pixel(std::round(toX(g, tick)) + 0.5) + " " + pixel(bottom + 0.5) + "v5";
    for (double tick : y_.ticks)
        out += "M" + pixel(g.left - 0.5) + " " + pixel(std::round(toY(g, tick)) + 0.5) + "h-5";
    out += "\"/></g>";
    out += "<text class=\"axis-title\" x=\"" + pixel(g.left + g.width / 2) + "\" y=\"" +
           pixel(plotHeight - 8) + "\" text-anchor=\"middle\">" + escapeMarkup(axisTitle(x_)) + "</text>";
    out += "<text class=\"axis-title\" transform=\"translate(14," + pixel(g.top + g.height / 2) +
           ") rotate(-90)\" text-anchor=\"middle\">" + escapeMarkup(axisTitle(y_)) + "</text>";
}

void SvgPlot::legend(std::string& out, const Geometry& g) const {
    const double available = g.width;
    double x = available, y = marginTopBare - legendRowHeight;
    out += "<g class=\"legend\" font-size=\"12\">";
    for (const Layer& layer : layers_) {
        if (layer.legend.empty()) continue;
        const double width = legendItemWidth(layer.legend);
        if (x + width > available) {
            x = 0;
            y += legendRowHeight;
        }
        const double left = g.left + x, middle = y + legendRowHeight / 2;
        const char* code = colourCode(layer.colour);
        if (layer.faint) out += std::string("<g opacity=\"") + faintOpacity + "\">";
        switch (layer.kind) {
        case LayerKind::band:
        case LayerKind::columns:
            out += "<rect x=\"" + pixel(left) + "\" y=\"" + pixel(middle - 5) + "\" width=\"" +
                   pixel(legendSwatch) + "\" height=\"10\" fill=\"" + code + "\" fill-opacity=\"" +
                   (layer.kind == LayerKind::band ? "0.35" : "0.75") + "\"/>";
            break;
        case LayerKind::marks:
            out += shapeElement(layer.shape, layer.colour, left + legendSwatch / 2, middle, "", layer.hollow,
                                std::min(layer.size, 1.4)) +
                   "/>";
            break;
        default: {
            const char* dash =
                layer.kind == LayerKind::line ? dashArray(layer.dash) : dashArray(Dash::dashed);
            out += "<path d=\"M" + pixel(left) + " " + pixel(middle) + "h" + pixel(legendSwatch) +
                   "\" stroke=\"" + code + "\" stroke-width=\"2\"" +
                   (*dash != 0 ? std::string(" stroke-dasharray=\"") + dash + "\"" : std::string()) + "/>";
            break;
        }
        }
        if (layer.faint) out += "</g>";
        out += "<text x=\"" + pixel(left + legendSwatch + 6) + "\" y=\"" + pixel(middle + 4) + "\">" +
               escapeMarkup(layer.legend) + "</text>";
        x += width;
    }
    out += "</g>";
}

std::string SvgPlot::svg() const {
    const Geometry g = geometry();
    const double bottom = g.top + g.height, right = g.left + g.width;
    const std::string id = "plot-" + escapeMarkup(name_);
    std::string out;
    out.reserve(16384);
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"plot\" data-plot=\"" + escapeMarkup(name_) +
           "\" role=\"img\" aria-labelledby=\"" + id + "-title " + id + "-desc\" viewBox=\"0 0 " +
           pixel(plotWidth) + " " + pixel(plotHeight) + "\" width=\"" + pixel(plotWidth) + "\" height=\"" +
           pixel(plotHeight) + "\" font-family=\"sans-serif\" font-size=\"12\">";
    out += "<title id=\"" + id + "-title\">" + escapeMarkup(title_) + "</title>";
    out += "<desc id=\"" + id + "-desc\">" + escapeMarkup(description_) + "</desc>";
    out += "<rect class=\"area\" x=\"" + pixel(g.left) + "\" y=\"" + pixel(g.top) + "\" width=\"" +
           pixel(g.width) + "\" height=\"" + pixel(g.height) + "\" fill=\"" + areaFill + "\" data-x-min=\"" +
           compactNumber(x_.min) + "\" data-x-max=\"" + compactNumber(x_.max) + "\" data-y-min=\"" +
           compactNumber(y_.min) + "\" data-y-max=\"" + compactNumber(y_.max) + "\" data-x-unit=\"" +
           escapeMarkup(x_.unit) + "\" data-y-unit=\"" + escapeMarkup(y_.unit) + "\" data-x-scale=\"" +
           (x_.scale == Scale::log ? "log" : "linear") + "\" data-y-scale=\"" +
           (y_.scale == Scale::log ? "log" : "linear") + "\"/>";

    // Grid at the ticks, inside the area.
    out += "<path class=\"grid\" stroke=\"";
    out += gridColour;
    out += "\" shape-rendering=\"crispEdges\" d=\"";
    for (double tick : x_.ticks) {
        const double px = std::round(toX(g, tick)) + 0.5;
        if (px > g.left + 1 && px < right - 1)
            out += "M" + pixel(px) + " " + pixel(g.top) + "V" + pixel(bottom);
    }
    for (double tick : y_.ticks) {
        const double py = std::round(toY(g, tick)) + 0.5;
        if (py > g.top + 1 && py < bottom - 1)
            out += "M" + pixel(g.left) + " " + pixel(py) + "H" + pixel(right);
    }
    out += "\"/>";

    for (const Layer& layer : layers_) {
        const char* code = colourCode(layer.colour);
        switch (layer.kind) {
        case LayerKind::band: {
            if (layer.ranges.empty()) break;
            // Upper edge left to right, lower edge back; a single range becomes a thin bar.
            std::string d;
            const bool single = layer.ranges.size() == 1;
            for (size_t i = 0; i < layer.ranges.size(); ++i) {
                const RangePoint& r = layer.ranges[i];
                d += (i == 0 ? "M" : "L") + pixel(toX(g, r.x) - (single ? 1 : 0)) + " " +
                     pixel(toY(g, r.high));
            }
            if (single)
                d += "L" + pixel(toX(g, layer.ranges[0].x) + 1) + " " + pixel(toY(g, layer.ranges[0].high));
            if (single)
                d += "L" + pixel(toX(g, layer.ranges[0].x) + 1) + " " + pixel(toY(g, layer.ranges[0].low));
            for (size_t i = layer.ranges.size(); i-- > 0;) {
                const RangePoint& r = layer.ranges[i];
                d += "L" + pixel(toX(g, r.x) - (single ? 1 : 0)) + " " + pixel(toY(g, r.low));
            }
            out += "<path class=\"band\" fill=\"";
            out += code;
            out += "\" fill-opacity=\"0.35\" stroke=\"";
            out += code;
            out += "\" stroke-width=\"0.6\" d=\"" + d + "z\"/>";
            break;
        }
        case LayerKind::line: {
            if (layer.points.empty()) break;
            std::string d;
            for (size_t i = 0; i < layer.points.size(); ++i)
                d += (i == 0 ? "M" : "L") + pixel(toX(g, layer.points[i].x)) + " " +
                     pixel(toY(g, layer.points[i].y));
            if (layer.points.size() == 1) d += "h1";
            out += layer.faint ? "<path class=\"line faint\" fill=\"none\" stroke=\""
                               : "<path class=\"line\" fill=\"none\" stroke=\"";
            out += code;
            out += "\" stroke-width=\"1.6\" stroke-linejoin=\"round\"";
            if (layer.faint) out += std::string(" stroke-opacity=\"") + faintOpacity + "\"";
            if (layer.dash != Dash::solid)
                out += std::string(" stroke-dasharray=\"") + dashArray(layer.dash) + "\"";
            out += " d=\"" + d + "\"/>";
            break;
        }
        case LayerKind::columns: {
            if (layer.columns.empty()) break;
            std::string d;
            for (const Column& c : layer.columns) {
                const double x0 = toX(g, c.x0), x1 = std::max(toX(g, c.x1), x0 + 1);
                d += "M" + pixel(x0) + " " + pixel(bottom) + "V" + pixel(toY(g, c.y)) + "H" + pixel(x1) +
                     "V" + pixel(bottom) + "z";
            }
            out += "<path class=\"columns\" fill=\"";
            out += code;
            out += "\" fill-opacity=\"0.75\" d=\"" + d + "\"/>";
            break;
        }
        case LayerKind::horizontalRule:
        case LayerKind::verticalRule: {
            const bool horizontal = layer.kind == LayerKind::horizontalRule;
            const std::string d =
                horizontal ? "M" + pixel(g.left) + " " + pixel(toY(g, layer.value)) + "H" + pixel(right)
                           : "M" + pixel(toX(g, layer.value)) + " " + pixel(g.top) + "V" + pixel(bottom);
            out += "<path class=\"rule\" data-value=\"" + compactNumber(layer.value) + "\" stroke=\"";
            out += code;
            out += "\" stroke-width=\"1.5\" stroke-dasharray=\"5 3\" d=\"" + d + "\"/>";
            break;
        }
        case LayerKind::marks:
            // Faint marks lie where they were added; this run's are drawn last, above everything.
            if (layer.faint) marksOf(out, g, layer);
            break;
        }
    }
    for (const Layer& layer : layers_)
        if (layer.kind == LayerKind::marks && !layer.faint) marksOf(out, g, layer);
    axes(out, g);
    legend(out, g);
    out += "</svg>";
    return out;
}

} // namespace report
