#pragma once
// The payload in the Prometheus text exposition format (0.0.4), for node_exporter's textfile
// collector or any scraper: one gauge family per measurement, each with "# HELP" and "# TYPE"
// lines, and no sample (nor family) for a value the payload does not hold.
//
//   tessly_temperature_celsius{sensor="cpu"}    each temperature present (cpu, gpu, memory,
//                                               battery, storage)
//   tessly_fan_speed_rpm{fan="0"}               each element of the payload's speed list
//   tessly_fans                                 the number of fans, when the payload has a fan
//                                               reading
//   tessly_fan_min_speed_rpm,                   each limit present
//   tessly_fan_max_speed_rpm
//   tessly_sample_timestamp_seconds             sampledAt
//   tessly_sample_age_seconds                   `now - sampledAt` at the time of the export
//   tessly_agent_info{version="1.4.0"} 1        when the agent gave its version
//
// The names follow Prometheus's naming guide and pass `promtool check metrics`: base units with
// their plural suffix (seconds, celsius), `_info` for the metadata pseudo-metric, and no unit on
// a count of things (`tessly_fans`; `_count` belongs to histograms and summaries). Speeds stay in
// revolutions per minute, `_rpm`: the guide's list of base units has none for rotation, and rpm
// is what fans, their data sheets and hwmon report (and node_exporter's hwmon collector exports),
// so the numbers compare with those as they are.

#include <string>

#include <TesslyKit/Records.h>

namespace tessly::cli {

// The exposition text; every line ends in a newline. Numbers are written so that they read back
// as exactly the same double.
std::string prometheusText(const SensorsPayload& payload, double now);

}  // namespace tessly::cli
