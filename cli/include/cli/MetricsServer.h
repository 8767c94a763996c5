#pragma once
// `tessly export --format prometheus --listen`: the payload as a Prometheus scrape target. Each
// request is answered from one read of sensors.json through TesslyKit, and nothing else is kept,
// so the exporter can run beside the agent under the user's service manager.

#include <optional>
#include <string>
#include <string_view>

#include "cli/Console.h"

namespace tessly::cli {

struct ListenAddress {
    std::string host;  // as getaddrinfo takes it: "127.0.0.1", "::1", "0.0.0.0", a name
    int port = 0;      // 0: any free port, which the server then prints
};

// "PORT" (on 127.0.0.1), "HOST:PORT" or "[IPV6]:PORT", or nothing when the text is none of
// these: a port beyond 0..65535, an empty host, an unbracketed IPv6 address.
std::optional<ListenAddress> parseListenAddress(std::string_view text);

struct MetricsResponse {
    int status = 200;
    std::string contentType;
    std::string body;
    std::string allow;  // the Allow header of a 405, else empty
};

// The answer to one request at wall time `now`: /metrics by GET or HEAD gives the exposition of
// the current payload (as `tessly export` prints it) and `tessly_exporter_up 1`, or only
// `tessly_exporter_up 0` while no payload is current; any other path is 404, any other method
// 405. Reads sensors.json once.
MetricsResponse metricsResponse(std::string_view method, std::string_view path, double now);

// Serves until the process is ended; 1 after saying why when the address cannot be listened on.
// Prints "tessly: serving http://HOST:PORT/metrics" once listening.
int runMetricsServer(Console& console, const ListenAddress& address);

}  // namespace tessly::cli
