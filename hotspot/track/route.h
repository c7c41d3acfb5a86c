#pragma once

#include <array>
#include <vector>

namespace zntr::hotspot {

// Mean Earth radius used for every distance along a route, in metres.
inline constexpr double kEarthRadiusM = 6371008.8;

// A point of a route, in degrees; north and east are positive.
struct Waypoint {
    double latitude;
    double longitude;
};

// Where a vehicle is after driving some distance along a route.
struct RoutePosition {
    double latitude;
    double longitude;
    double course_true_deg;  // direction of travel there, [0, 360)
    double distance_m;       // distance from the route's start, after wrapping or clamping
    int leg_index;           // leg the point lies on; a closed route's closing leg is the last
    bool at_end;             // an open route's last waypoint is reached, or the route is a point
};

// A route as a chain of great-circle legs on a sphere of radius kEarthRadiusM. Each leg is
// the shortest arc between two waypoints, and the course along it is the local bearing of
// that arc, so it changes slightly along a long leg the way a real great-circle course does.
class Route {
  public:
    // A closed route adds a leg from the last waypoint back to the first. Consecutive repeated
    // waypoints are dropped. Throws std::invalid_argument for an empty route, a coordinate out
    // of range or two consecutive waypoints that are antipodal (no single shortest arc).
    Route(const std::vector<Waypoint>& waypoints, bool closed);

    double length_m() const { return length_m_; }
    bool closed() const { return closed_; }

    // The point `distance_m` metres from the start. A closed route wraps the distance around
    // the loop; an open one stops at its last waypoint. Negative distances count as zero.
    RoutePosition At(double distance_m) const;

  private:
    using Vector = std::array<double, 3>;
    struct Leg {
        Vector from;
        Vector to;
        Vector axis;  // unit normal of the leg's great circle, in the direction of travel
        double angle_rad;
        double start_m;
        double length_m;
    };

    RoutePosition PointOnLeg(int leg_index, double along_m) const;

    std::vector<Leg> legs_;
    Waypoint start_{};
    double length_m_ = 0.0;
    bool closed_ = false;
};

}  // namespace zntr::hotspot
