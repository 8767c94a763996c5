#pragma once
// `tessly export --format prometheus --listen`: the payload as a Prometheus scrape target. Each
// request is answered from one read of sensors.json through TesslyKit, and nothing else is kept,
// so the exporter can run beside the agent under the user's service manager.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/Expected.h"
#include "cli/Console.h"

struct MHD_Daemon;

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

// An HTTP server answering every GET and HEAD as `respond` says, on a thread of its own that
// waits on every connection at once; it stops when destroyed. A request whose answer runs out of
// memory is answered 503, and the server goes on.
class MetricsServer {
  public:
    // Answers one request (method, path). Called on the server's thread, one request at a time.
    using Responder =
        std::function<MetricsResponse(std::string_view method, std::string_view path)>;

    // Listening on `address` and serving; or why it cannot ("cannot listen on
    // 127.0.0.1:9101: Address already in use").
    static Expected<std::unique_ptr<MetricsServer>, std::string> start(const ListenAddress& address,
                                                                       Responder respond);

    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;
    ~MetricsServer();

    // The port listened on: the one asked for, or the one picked for port 0.
    int port() const noexcept { return port_; }

  private:
    MetricsServer(Responder respond, int port) : respond_(std::move(respond)), port_(port) {}

    Responder respond_;  // what the server's thread calls; at a fixed address for its life
    int port_;
    MHD_Daemon* daemon_ = nullptr;
};

// Serves metricsResponse() at the console's wall time until the process is ended; 1 after saying
// why when the address cannot be listened on. Prints "tessly: serving http://HOST:PORT/metrics"
// once listening.
int runMetricsServer(Console& console, const ListenAddress& address);

}  // namespace tessly::cli
