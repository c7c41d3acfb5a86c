#include "track/route.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace zntr::hotspot {
namespace {

using Vector = std::array<double, 3>;

constexpr double kDegToRad = std::numbers::pi / 180.0;
constexpr double kRadToDeg = 180.0 / std::numbers::pi;

Vector ToVector(const Waypoint& point) {
    const double lat = point.latitude * kDegToRad;
    const double lon = point.longitude * kDegToRad;
    return {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
}

double Dot(const Vector& a, const Vector& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

Vector Cross(const Vector& a, const Vector& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double Norm(const Vector& a) {
    return std::sqrt(Dot(a, a));
}

Vector Scaled(const Vector& a, double factor) {
    return {a[0] * factor, a[1] * factor, a[2] * factor};
}

Vector Sum(const Vector& a, const Vector& b) {
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}

double NormalizedDegrees(double degrees) {
    double result = std::fmod(degrees, 360.0);
    if (result < 0.0) {
        result += 360.0;
    }
    return result >= 360.0 ? 0.0 : result;
}

// Bearing of the unit tangent `heading` at the unit position `point`, clockwise from north.
double BearingOf(const Vector& point, const Vector& heading) {
    const double lon = std::atan2(point[1], point[0]);
    const double sin_lat = point[2];
    const double cos_lat = std::hypot(point[0], point[1]);
    const Vector east = {-std::sin(lon), std::cos(lon), 0.0};
    const Vector north = {-sin_lat * std::cos(lon), -sin_lat * std::sin(lon), cos_lat};
    return NormalizedDegrees(std::atan2(Dot(heading, east), Dot(heading, north)) * kRadToDeg);
}

}  // namespace

Route::Route(const std::vector<Waypoint>& waypoints, bool closed) : closed_(closed) {
    if (waypoints.empty()) {
        throw std::invalid_argument("a route needs at least one waypoint");
    }
    for (const Waypoint& point : waypoints) {
        if (!(std::fabs(point.latitude) <= 90.0) || !(std::fabs(point.longitude) <= 180.0)) {
            throw std::invalid_argument("waypoint coordinate out of range");
        }
    }
    start_ = waypoints.front();

    std::vector<Waypoint> stops = waypoints;
    if (closed && stops.size() > 1) {
        stops.push_back(stops.front());
    }
    for (std::size_t i = 0; i + 1 < stops.size(); ++i) {
        const Vector from = ToVector(stops[i]);
        const Vector to = ToVector(stops[i + 1]);
        const Vector normal = Cross(from, to);
        const double angle = std::atan2(Norm(normal), Dot(from, to));
        if (angle < 1e-12) {
            continue;  // a repeated waypoint adds no leg
        }
        if (Norm(normal) < 1e-12) {
            throw std::invalid_argument("consecutive waypoints are antipodal");
        }
        const double length = angle * kEarthRadiusM;
        legs_.push_back(
            Leg{from, to, Scaled(normal, 1.0 / Norm(normal)), angle, length_m_, length});
        length_m_ += length;
    }
}

RoutePosition Route::At(double distance_m) const {
    if (legs_.empty()) {
        return RoutePosition{start_.latitude, start_.longitude, 0.0, 0.0, 0, true};
    }
    double along = std::max(distance_m, 0.0);
    if (closed_) {
        along = std::fmod(along, length_m_);
    } else if (along >= length_m_) {
        RoutePosition end = PointOnLeg(static_cast<int>(legs_.size()) - 1, legs_.back().length_m);
        end.at_end = true;
        return end;
    }
    // The last leg starting at or before `along`.
    const auto next = std::upper_bound(legs_.begin(), legs_.end(), along,
                                       [](double d, const Leg& leg) { return d < leg.start_m; });
    const auto index = static_cast<int>(std::distance(legs_.begin(), next)) - 1;
    return PointOnLeg(index, along - legs_[static_cast<std::size_t>(index)].start_m);
}

RoutePosition Route::PointOnLeg(int leg_index, double along_m) const {
    const Leg& leg = legs_[static_cast<std::size_t>(leg_index)];
    const double fraction = std::clamp(along_m / leg.length_m, 0.0, 1.0);
    // Spherical interpolation between the leg's ends keeps the point on the great circle.
    const double sin_angle = std::sin(leg.angle_rad);
    Vector point = Sum(Scaled(leg.from, std::sin((1.0 - fraction) * leg.angle_rad) / sin_angle),
                       Scaled(leg.to, std::sin(fraction * leg.angle_rad) / sin_angle));
    point = Scaled(point, 1.0 / Norm(point));
    const Vector heading = Cross(leg.axis, point);

    RoutePosition position{};
    position.latitude = std::atan2(point[2], std::hypot(point[0], point[1])) * kRadToDeg;
    position.longitude = std::atan2(point[1], point[0]) * kRadToDeg;
    position.course_true_deg = BearingOf(point, heading);
    position.distance_m = leg.start_m + fraction * leg.length_m;
    position.leg_index = leg_index;
    position.at_end = false;
    return position;
}

}  // namespace zntr::hotspot
