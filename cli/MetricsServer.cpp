#include "cli/MetricsServer.h"

#include <httplib.h>

#include <TesslyKit/PayloadStatus.h>

#include <sys/socket.h>

#include <cerrno>
#include <charconv>
#include <mutex>
#include <system_error>

#include "cli/Commands.h"
#include "cli/Format.h"
#include "cli/Prometheus.h"

namespace tessly::cli {
namespace {

constexpr std::string_view exposition = "text/plain; version=0.0.4; charset=utf-8";

std::string upText(bool up) {
    return std::string(
               "# HELP tessly_exporter_up Whether the exporter found a current payload "
               "(1) or none: stale, missing or invalid (0).\n"
               "# TYPE tessly_exporter_up gauge\n"
               "tessly_exporter_up ") +
           (up ? "1" : "0") + "\n";
}

std::optional<int> portOf(std::string_view text) {
    int port = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || port < 0 ||
        port > 65535) {
        return std::nullopt;
    }
    return port;
}

std::string shownAddress(const std::string& host, int port) {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

std::optional<ListenAddress> parseListenAddress(std::string_view text) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        const auto port = portOf(text);
        if (!port) return std::nullopt;
        return ListenAddress{"127.0.0.1", *port};
    }
    std::string_view host = text.substr(0, colon);
    const auto port = portOf(text.substr(colon + 1));
    if (!port) return std::nullopt;
    if (host.starts_with('[')) {
        if (!host.ends_with(']') || host.size() < 3) return std::nullopt;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
        return std::nullopt;  // "::1:9101" is ambiguous: IPv6 addresses go in brackets
    }
    if (host.empty()) return std::nullopt;
    return ListenAddress{std::string(host), *port};
}

MetricsResponse metricsResponse(std::string_view method, std::string_view path, double now) {
    MetricsResponse response;
    response.contentType = "text/plain; charset=utf-8";
    if (method != "GET" && method != "HEAD") {
        response.status = 405;
        response.allow = "GET, HEAD";
        response.body = "Only GET and HEAD are served.\n";
        return response;
    }
    if (path != "/metrics") {
        response.status = 404;
        response.body = "Not found: the metrics are at /metrics.\n";
        return response;
    }
    const PayloadStatus status = payloadStatus(now);
    const bool current = status.state == PayloadStatus::State::current && status.payload;
    response.contentType = exposition;
    response.body =
        (current ? prometheusText(*status.payload, now) : std::string()) + upText(current);
    return response;
}

int runMetricsServer(Console& console, const ListenAddress& address) {
    httplib::Server server;
    // Requests carry no body worth reading; idle or slow clients are let go soon, so that they
    // cannot hold the worker threads.
    server.set_payload_max_length(4096);
    server.set_read_timeout(2, 0);
    server.set_write_timeout(2, 0);
    server.set_keep_alive_timeout(5);
    server.set_keep_alive_max_count(100);  // a scraper keeps its connection for many scrapes
    // Headers and body go out in separate writes: without TCP_NODELAY the body waits for the
    // client's delayed acknowledgement, some 40 ms a scrape.
    server.set_tcp_nodelay(true);
    // SO_REUSEADDR alone, so a restart can bind at once; never SO_REUSEPORT (the library's
    // default), with which a second exporter would share the port silently.
    server.set_socket_options([](int socket) {
        const int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    std::mutex clockLock;  // the console's clock is one thread's at a time
    Clock& clock = console.clock;
    server.set_pre_routing_handler([&](const httplib::Request& request, httplib::Response& reply) {
        double now = 0;
        {
            const std::lock_guard lock(clockLock);
            now = clock.wallNow();
        }
        const MetricsResponse response = metricsResponse(request.method, request.path, now);
        reply.status = response.status;
        if (!response.allow.empty()) reply.set_header("Allow", response.allow);
        reply.set_content(response.body, response.contentType.c_str());
        return httplib::Server::HandlerResponse::Handled;
    });

    errno = 0;
    int port = address.port;
    if (port == 0) {
        port = server.bind_to_any_port(address.host);
    } else if (!server.bind_to_port(address.host, port)) {
        port = -1;
    }
    if (port < 0) {
        const int error = errno;
        console.err << "tessly: cannot listen on "
                    << terminalSafe(shownAddress(address.host, address.port))
                    << (error != 0 ? ": " + std::generic_category().message(error) : std::string())
                    << "\n";
        return exitFailure;
    }
    console.out << "tessly: serving http://" << terminalSafe(shownAddress(address.host, port))
                << "/metrics" << std::endl;
    return server.listen_after_bind() ? exitOK : exitFailure;
}

}  // namespace tessly::cli
