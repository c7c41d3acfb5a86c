// A GPX 1.1 track written as positions arrive. After every point the file ends with the closing
// tags, and the next point is written over them: the file is a complete, readable GPX document
// between any two points, so one cut short by Ctrl-C, a kill or a crash still opens in any GPX
// reader. Close() (or the destructor) leaves the last closing tags in place.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "sensor_values.h"

namespace zntr::tools {

class GpxTrack {
  public:
    // Creates (or empties) the file and writes an empty track. Throws std::runtime_error when
    // it cannot be written.
    explicit GpxTrack(const std::string& path, const std::string& trackName = "zntr");
    ~GpxTrack();
    GpxTrack(const GpxTrack&) = delete;
    GpxTrack& operator=(const GpxTrack&) = delete;

    // Adds a point for the data fields when they hold a position (latitude and longitude, not
    // both 0: the driver zeroes the fields when the stream is silent); whether it did. The
    // point carries what the fields have of elevation (sea level), time, fix type, satellites
    // used and the three dilutions.
    bool Add(const ValueList& fields);
    int Points() const { return points_; }
    void Close();

  private:
    void Write(const std::string& text);

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
    long tailAt_ = -1;  // where the closing tags start; -1 when the file cannot seek
    int points_ = 0;
};

}  // namespace zntr::tools
