#pragma once
// What `tessly watch` shows: the latest look at the payload and the last minute of readings,
// rendered as a full screen for a terminal or as one line for a log. Pure: every look comes with
// the caller's current time, so the view is the same for the same looks.

#include <array>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include <TesslyKit/PayloadStatus.h>

namespace tessly::cli {

class WatchView {
  public:
    // The span of the sparklines, in seconds.
    static constexpr double window = 60.0;

    // `interval` is the seconds between two looks, shown in the header; `sensorlessHint` (lines)
    // is shown under a payload that holds no readings.
    explicit WatchView(double interval, std::string sensorlessHint = {});

    // Takes one look at the payload at `now`. A payload that was not seen before (by its
    // sampledAt) joins the history; readings older than the window leave it.
    void update(const PayloadStatus& status, double now);

    // The screen, one string per line, none wider than `width` columns: a header, one row per
    // temperature and for the fans with the current value and a sparkline of the last minute,
    // the fans' own speeds and limits, and the sample's age, with a reverse-video STALE mark
    // when the agent stopped publishing (NO PAYLOAD when there is nothing to read).
    std::vector<std::string> screen(int width) const;

    // The latest look as one log line (see logLine in PayloadText.h).
    std::string line() const;

    // What a screen says under a payload without readings on a machine without sensors, as
    // lines ending in a newline; empty while the payload holds readings or the machine has them.
    std::string sensorlessNote() const;

  private:
    // The five temperatures, then the representative fan speed.
    static constexpr std::size_t seriesCount = 6;
    struct Point {
        double sampledAt = 0;
        std::array<std::optional<double>, seriesCount> values;
    };

    // The latest value of series `index` in each of `columns` equal slices of the window.
    std::vector<std::optional<double>> buckets(std::size_t index, int columns) const;
    bool seriesSeen(std::size_t index) const;

    double interval_;
    std::string sensorlessHint_;
    PayloadStatus status_;
    double now_ = 0;
    std::deque<Point> history_;
};

}  // namespace tessly::cli
