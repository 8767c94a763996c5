#include "cli/MetricsServer.h"

#include <microhttpd.h>

#include <TesslyKit/PayloadStatus.h>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <new>
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

// Descriptors kept free beside the connections: standard streams, the epoll and wake-up
// descriptors of the server, the listening socket, sensors.json while a request reads it.
constexpr rlim_t reservedDescriptors = 16;
// The most connections served at once. Each holds one descriptor and at most
// `connectionMemory` of requests, so hostile clients can pin at most some 20 MiB, while a
// thousand scrapers connecting at once are all served.
constexpr rlim_t mostConnections = 2048;
// Everything a connection's requests may take, the head and the answer's header lines included: a
// request whose head does not fit is answered 431 (414 for a request line alone) and its
// connection closed; one that fits with too little room left for the answer's header lines (a
// head within some 200 bytes of the limit) has its connection closed unanswered. Prometheus sends
// a head of some 300 bytes.
constexpr std::size_t connectionMemory = 8 * 1024;
// Seconds a connection may stay silent (idle between scrapes, or stalled within a request);
// every byte received starts it again.
constexpr unsigned connectionTimeout = 10;
// Connections the kernel queues before they are accepted (it caps this at net.core.somaxconn):
// a crowd connecting at once waits there, not in SYN retransmissions a second apart.
constexpr int listenBacklog = 4096;

// The connections the descriptors allow, after raising the soft limit to the hard one as daemons
// do.
unsigned connectionLimit() noexcept {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 64;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    const rlim_t available = limit.rlim_cur == RLIM_INFINITY ? mostConnections : limit.rlim_cur;
    if (available <= reservedDescriptors + 1) return 1;
    return static_cast<unsigned>(std::min(available - reservedDescriptors, mostConnections));
}

// A bound, listening, non-blocking socket on the address (the first of the name's addresses that
// can be bound), or why none could be.
Expected<int, std::string> listenOn(const ListenAddress& address) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(address.port);
    if (const int failed = ::getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found);
        failed != 0) {
        return unexpected(failed == EAI_SYSTEM ? std::generic_category().message(errno)
                                               : std::string(::gai_strerror(failed)));
    }
    int socket = -1;
    int error = 0;
    for (const addrinfo* candidate = found; candidate != nullptr && socket < 0;
         candidate = candidate->ai_next) {
        socket =
            ::socket(candidate->ai_family, candidate->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                     candidate->ai_protocol);
        if (socket < 0) {
            error = errno;
            continue;
        }
        // SO_REUSEADDR alone, so a restart can bind while the last one's connections linger;
        // never SO_REUSEPORT, with which a second exporter would share the port silently.
        // TCP_NODELAY is inherited by the accepted connections: a keep-alive scraper's answer
        // never waits for its acknowledgement of the one before. (Each answer goes out in one
        // sendmsg, header lines and body together, and the server sets TCP_NODELAY again after
        // the first.)
        const int yes = 1;
        (void)::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        (void)::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        if (::bind(socket, candidate->ai_addr, candidate->ai_addrlen) != 0 ||
            ::listen(socket, listenBacklog) != 0) {
            error = errno;
            ::close(socket);
            socket = -1;
        }
    }
    ::freeaddrinfo(found);
    if (socket < 0) return unexpected(std::generic_category().message(error));
    return socket;
}

int boundPort(int socket) noexcept {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) return -1;
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

// Queues `body` as the answer to the connection's request; `allow` may be empty.
MHD_Result queue(MHD_Connection* connection, unsigned status, const char* contentType,
                 const char* allow, std::string_view body, MHD_ResponseMemoryMode mode) noexcept {
    MHD_Response* reply =
        MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), mode);
    if (reply == nullptr) return MHD_NO;
    bool ok = MHD_add_response_header(reply, MHD_HTTP_HEADER_CONTENT_TYPE, contentType) == MHD_YES;
    if (*allow != '\0') {
        ok = ok && MHD_add_response_header(reply, MHD_HTTP_HEADER_ALLOW, allow) == MHD_YES;
    }
    const MHD_Result queued = ok ? MHD_queue_response(connection, status, reply) : MHD_NO;
    MHD_destroy_response(reply);
    return queued;
}

// Called on the server's one polling thread once a request's head has been read, then for each
// piece of its body, then once more when it is complete. A GET or HEAD is answered when complete,
// so the connection stays open for the next request (any body is read and dropped, a piece the
// size of the connection's memory at a time); other methods are refused at once, and their
// connection closed without reading the body. MHD_NO closes the connection unanswered, where
// the server itself runs out of memory.
//
// This is the scrape's boundary: an allocation failure while answering is answered 503 from
// text that needs no allocation, and the server goes on with the next request.
MHD_Result answer(void* respond, MHD_Connection* connection, const char* url, const char* method,
                  const char* /*version*/, const char* /*uploadData*/, std::size_t* uploadSize,
                  void** state) noexcept {
    static int headRead;
    const std::string_view name(method);
    if ((name == "GET" || name == "HEAD") && (*state == nullptr || *uploadSize != 0)) {
        *state = &headRead;
        *uploadSize = 0;
        return MHD_YES;
    }
    try {
        const MetricsResponse response =
            (*static_cast<const MetricsServer::Responder*>(respond))(method, url);
        return queue(connection, static_cast<unsigned>(response.status),
                     response.contentType.c_str(), response.allow.c_str(), response.body,
                     MHD_RESPMEM_MUST_COPY);
    } catch (const std::bad_alloc&) {
        return queue(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "text/plain; charset=utf-8", "",
                     "Out of memory; try again.\n", MHD_RESPMEM_PERSISTENT);
    }
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

Expected<std::unique_ptr<MetricsServer>, std::string> MetricsServer::start(
    const ListenAddress& address, Responder respond) {
    const unsigned connections = connectionLimit();
    std::unique_ptr<MetricsServer> server(new MetricsServer(std::move(respond), 0));
    const auto socket = listenOn(address);
    if (!socket) {
        return unexpected("cannot listen on " + shownAddress(address.host, address.port) + ": " +
                          socket.error());
    }
    const int port = boundPort(*socket);
    server->port_ = port;
    // One thread waits on epoll for every connection and answers each request as its head
    // completes, so a client that is slow, silent or sends too much holds nothing but its own
    // connection's slot and memory.
    server->daemon_ = MHD_start_daemon(
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL, 0, nullptr, nullptr, &answer,
        &server->respond_, MHD_OPTION_LISTEN_SOCKET, *socket, MHD_OPTION_CONNECTION_LIMIT,
        connections, MHD_OPTION_CONNECTION_MEMORY_LIMIT, connectionMemory,
        MHD_OPTION_CONNECTION_TIMEOUT, connectionTimeout, MHD_OPTION_END);
    if (server->daemon_ == nullptr) {
        const int reason = errno;
        ::close(*socket);
        return unexpected(
            "cannot serve on " + shownAddress(address.host, port) +
            (reason != 0 ? ": " + std::generic_category().message(reason) : std::string()));
    }
    return server;
}

MetricsServer::~MetricsServer() {
    if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
}

int runMetricsServer(Console& console, const ListenAddress& address) {
    // The console's clock, which takes one thread at a time, is only ever read on the server's.
    Clock& clock = console.clock;
    const auto server = MetricsServer::start(address, [&clock](auto method, auto path) {
        return metricsResponse(method, path, clock.wallNow());
    });
    if (!server) {
        console.err << "tessly: " << terminalSafe(server.error()) << "\n";
        return exitFailure;
    }
    console.out << "tessly: serving http://"
                << terminalSafe(shownAddress(address.host, (*server)->port())) << "/metrics"
                << std::endl;
    for (;;) {
        ::pause();  // until a signal ends the process
    }
}

}  // namespace tessly::cli
