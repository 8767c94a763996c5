#include "cli/WatchView.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "cli/Commands.h"
#include "cli/Format.h"
#include "cli/PayloadText.h"
#include "cli/Sparkline.h"
#include "cli/TextTable.h"

namespace tessly::cli {
namespace {

constexpr int labelWidth = 13;
constexpr int valueWidth = 12;
constexpr int widestSparkline = 30;
constexpr int narrowestSparkline = 8;
// A writer faster than once per 0.1 s would otherwise grow the history without bound.
constexpr std::size_t mostPoints = 600;

constexpr std::string_view reverseVideo = "\x1b[7m";
constexpr std::string_view plainVideo = "\x1b[0m";

struct Series {
    std::string_view label;
    double minimumSpan;  // so that noise on a steady value stays flat
    bool isFan;          // a speed: 0 (stopped) is the bottom of its sparkline
};

constexpr std::array<Series, 6> seriesList{{
    {"CPU", 2.0, false},
    {"GPU", 2.0, false},
    {"Memory", 2.0, false},
    {"Battery", 2.0, false},
    {"Storage", 2.0, false},
    {"Fans", 200.0, true},
}};

std::string markText(std::string_view mark) {
    std::string text(reverseVideo);
    text += ' ';
    text += mark;
    text += ' ';
    text += plainVideo;
    return text;
}

}  // namespace

WatchView::WatchView(double interval, std::string sensorlessHint)
    : interval_(interval), sensorlessHint_(std::move(sensorlessHint)) {}

void WatchView::update(const PayloadStatus& status, double now) {
    status_ = status;
    now_ = now;
    if (const auto& payload = status.payload) {
        // A payload sampled earlier than the last one seen means the clock or the writer changed:
        // the old history no longer lines up with the new one.
        if (!history_.empty() && payload->sampledAt < history_.back().sampledAt) history_.clear();
        if (history_.empty() || payload->sampledAt != history_.back().sampledAt) {
            Point point;
            point.sampledAt = payload->sampledAt;
            if (const auto& t = payload->thermal) {
                point.values = {t->cpuTemperatureC,     t->gpuTemperatureC,
                                t->memoryTemperatureC,  t->batteryTemperatureC,
                                t->storageTemperatureC, std::nullopt};
            }
            if (payload->fan) point.values[5] = payload->fan->rpm;
            history_.push_back(point);
        }
    }
    while (!history_.empty() &&
           (history_.size() > mostPoints || history_.front().sampledAt < now - window)) {
        history_.pop_front();
    }
}

std::vector<std::optional<double>> WatchView::buckets(std::size_t index, int columns) const {
    std::vector<std::optional<double>> values(static_cast<std::size_t>(columns));
    const double start = now_ - window;
    const double slice = window / columns;
    for (const auto& point : history_) {
        if (!point.values[index] || point.sampledAt < start) continue;
        // A sample stamped a little after `now` (clocks differ) belongs to the last slice.
        const double offset = std::min((point.sampledAt - start) / slice, columns - 1.0);
        values[static_cast<std::size_t>(offset)] = point.values[index];
    }
    return values;
}

bool WatchView::seriesSeen(std::size_t index) const {
    return std::any_of(history_.begin(), history_.end(),
                       [&](const Point& p) { return p.values[index].has_value(); });
}

std::vector<std::string> WatchView::screen(int width) const {
    std::vector<std::string> lines;
    const auto& payload = status_.payload;

    std::string header = "tessly watch · ";
    if (payload && payload->helperVersion) {
        header += "agent " + terminalSafe(*payload->helperVersion) + " · ";
    }
    header += "every " + shortestNumber(interval_) + " s · q or Ctrl-C quits";
    lines.push_back(header);
    if (payload && payload->helperVersion && payload->helperVersion->ends_with(simulatedSuffix)) {
        lines.push_back(markText("SIMULATED") +
                        " these readings come from 'tessly simulate', not from this machine");
    }

    if (status_.state == PayloadStatus::State::current && status_.age) {
        lines.push_back(*status_.age < 0
                            ? "Sample from " + durationText(*status_.age) + " in the future"
                            : "Sample " + durationText(*status_.age) + " old");
    } else if (status_.state == PayloadStatus::State::stale && status_.age && *status_.age < 0) {
        const std::string ahead = durationText(*status_.age);
        lines.push_back(markText("STALE") + " the last sample is stamped " + ahead +
                        " in the future (was the clock set back?)");
    } else if (status_.state == PayloadStatus::State::stale) {
        const std::string age =
            status_.age && !std::isnan(*status_.age) ? durationText(*status_.age) : "unknown";
        lines.push_back(markText("STALE " + age) + " the agent stopped publishing; last sample " +
                        age + " old");
    } else {
        lines.push_back(markText("NO PAYLOAD") + " " + absenceText(status_));
    }
    lines.emplace_back();

    const int room = width - labelWidth - valueWidth;
    const int columns = room >= narrowestSparkline ? std::min(room, widestSparkline) : 0;
    bool anyRow = false;
    TextTable rows({labelWidth, valueWidth});  // under a heading when there are sparklines
    if (columns > 0) rows.add({"", "now", "last minute"});
    for (std::size_t i = 0; i < seriesList.size(); ++i) {
        const Series& series = seriesList[i];
        std::optional<double> current;
        if (payload && series.isFan && payload->fan) current = payload->fan->rpm;
        if (payload && !series.isFan && payload->thermal) {
            const auto& t = *payload->thermal;
            const std::optional<double> temperatures[] = {
                t.cpuTemperatureC, t.gpuTemperatureC, t.memoryTemperatureC, t.batteryTemperatureC,
                t.storageTemperatureC};
            current = temperatures[i];
        }
        if (!current && !seriesSeen(i)) continue;
        anyRow = true;

        std::string value = "-";
        if (current) {
            value = series.isFan ? speedText(*current) : padLeft(oneDecimal(*current), 5) + " °C";
        }
        if (columns > 0) {
            rows.add({std::string(series.label), value,
                      sparkline(buckets(i, columns), series.minimumSpan,
                                series.isFan ? std::optional<double>(0.0) : std::nullopt)});
        } else {
            rows.add({std::string(series.label), value});
        }

        if (series.isFan && payload && payload->fan) {
            const auto& fan = *payload->fan;
            if (fan.rpms && fan.rpms->size() > 1) {
                for (std::size_t f = 0; f < fan.rpms->size(); ++f) {
                    rows.add({"  fan " + std::to_string(f), speedText((*fan.rpms)[f])});
                }
            }
            if (const auto range = fan.range()) {
                rows.add({"Fan limits",
                          wholeNumber(range->min) + "–" + wholeNumber(range->max) + " rpm"});
            }
        }
    }
    if (anyRow) {
        const auto table = rows.lines();
        lines.insert(lines.end(), table.begin(), table.end());
    }
    if (!anyRow && payload) {
        lines.emplace_back("The payload holds no temperatures and no fans.");
        // The explanation is prose: wrapped at blanks to the screen, never cut mid-word.
        std::string_view hint = sensorlessHint_;
        while (!hint.empty()) {
            const auto end = hint.find('\n');
            for (auto& wrapped : wrapToWidth(hint.substr(0, end), width))
                lines.push_back(std::move(wrapped));
            hint.remove_prefix(end == std::string_view::npos ? hint.size() : end + 1);
        }
    }

    for (auto& line : lines)
        line = fitToWidth(line, std::max(width, 0));
    return lines;
}

std::string WatchView::line() const {
    return logLine(status_, now_);
}

std::string WatchView::sensorlessNote() const {
    if (sensorlessHint_.empty() || !status_.payload || !holdsNoReadings(*status_.payload))
        return {};
    return "The payload holds no temperatures and no fans.\n" + sensorlessHint_;
}

}  // namespace tessly::cli
