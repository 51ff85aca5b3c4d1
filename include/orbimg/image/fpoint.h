// CfPoint: a point with a double pair beside CPoint's int pair.
#pragma once

#include "platform/afx.h"
#include "platform/export.h"

/// A point with double coordinates `x`, `y` that hide CPoint's ints (still
/// reachable as CPoint::x, CPoint::y). Set from doubles, the ints are the
/// doubles truncated toward zero (saturating, NaN giving 0); set from ints,
/// the doubles equal the ints. The default constructor zeroes both pairs.
class ORBIMG_API CfPoint : public CPoint {
public:
    double x = 0.0;
    double y = 0.0;

    CfPoint() = default;
    CfPoint(int ix, int iy) { Set(ix, iy); }
    CfPoint(double dx, double dy) { Set(dx, dy); }
    CfPoint(const CfPoint&) = default;
    CfPoint& operator=(const CfPoint&) = default;
    virtual ~CfPoint() = default;

    void Set(int ix, int iy)
    {
        CPoint::x = ix;
        CPoint::y = iy;
        x = ix;
        y = iy;
    }
    void Set(double dx, double dy)
    {
        x = dx;
        y = dy;
        CPoint::x = Truncate(dx);
        CPoint::y = Truncate(dy);
    }
    int IntX() const { return CPoint::x; }
    int IntY() const { return CPoint::y; }

    /// Truncation toward zero into the int range; NaN gives 0.
    static int Truncate(double v)
    {
        if (!(v == v)) {
            return 0;
        }
        if (v >= 2147483647.0) {
            return 2147483647;
        }
        if (v <= -2147483648.0) {
            return -2147483647 - 1;
        }
        return static_cast<int>(v);
    }
};
