#include "report/decimate.h"

#include <cmath>

namespace report {

namespace {

// The column of x, or -1 outside xMin … xMax (xMax itself is in the last column).
int columnOf(double x, double xMin, double xMax, int columns) {
    if (!(x >= xMin && x <= xMax)) return -1;
    if (!(xMax > xMin)) return 0;
    const int column = int((x - xMin) / (xMax - xMin) * columns);
    return column >= columns ? columns - 1 : column;
}

} // namespace

std::vector<Point> decimateMinMax(const std::vector<Point>& points, double xMin, double xMax, int columns) {
    std::vector<Point> out;
    if (columns < 1) return out;
    int current = -1;
    Point lowest, highest;
    bool lowestFirst = true;
    const auto flush = [&] {
        if (current < 0) return;
        if (lowest.x == highest.x && lowest.y == highest.y) {
            out.push_back(lowest);
        } else if (lowestFirst) {
            out.push_back(lowest);
            out.push_back(highest);
        } else {
            out.push_back(highest);
            out.push_back(lowest);
        }
    };
    for (const Point& point : points) {
        if (!std::isfinite(point.y)) continue;
        const int column = columnOf(point.x, xMin, xMax, columns);
        if (column < 0) continue;
        if (column != current) {
            flush();
            current = column;
            lowest = highest = point;
            lowestFirst = true;
            continue;
        }
        // Ties keep the earlier point, so a flat column stays a single point.
        if (point.y < lowest.y) {
            lowest = point;
            lowestFirst = lowest.x <= highest.x;
        }
        if (point.y > highest.y) {
            highest = point;
            lowestFirst = lowest.x <= highest.x;
        }
    }
    flush();
    return out;
}

std::vector<RangePoint> decimateRanges(const std::vector<RangePoint>& ranges, double xMin, double xMax,
                                       int columns) {
    std::vector<RangePoint> out;
    if (columns < 1) return out;
    int current = -1;
    for (const RangePoint& range : ranges) {
        if (!std::isfinite(range.low) || !std::isfinite(range.high)) continue;
        const int column = columnOf(range.x, xMin, xMax, columns);
        if (column < 0) continue;
        if (column != current) {
            out.push_back(range);
            current = column;
            continue;
        }
        RangePoint& merged = out.back();
        if (range.low < merged.low) merged.low = range.low;
        if (range.high > merged.high) merged.high = range.high;
    }
    return out;
}

} // namespace report
