// Thinning a long series for a plot: whatever the run's length, a plot holds a few points
// per pixel column, and the extremes a reader looks for (the one late switch in an hour)
// survive.
#pragma once

#include <vector>

namespace report {

struct Point {
    double x = 0, y = 0;
};

// A range of values at one x: the timeline's min … max of a bin.
struct RangePoint {
    double x = 0, low = 0, high = 0;
};

// The points of a series ordered by x, cut into `columns` equal columns over xMin … xMax:
// from each column its lowest and its highest point (one when they are the same point),
// in x order. Points outside the range and with a y that is not finite are dropped, and
// the result never has more than 2 × columns points.
std::vector<Point> decimateMinMax(const std::vector<Point>& points, double xMin, double xMax, int columns);

// The same for ranges: one range per column, from the lowest low to the highest high,
// at the x of the column's first range.
std::vector<RangePoint> decimateRanges(const std::vector<RangePoint>& ranges, double xMin, double xMax,
                                       int columns);

} // namespace report
