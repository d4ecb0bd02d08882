#include "tools/remote/HttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/sys/Syscall.h"

namespace remote {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxHead = 16 * 1024;  // request line and headers
constexpr size_t kMaxBody = 4096;       // POST bodies are read and dropped
constexpr size_t kMaxConnections = 64;
constexpr auto kRequestLimit = std::chrono::seconds(10);  // to send a whole request

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 409:
            return "Conflict";
        case 413:
            return "Content Too Large";
        case 431:
            return "Request Header Fields Too Large";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

std::string Lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

std::string Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return std::string(s);
}

}  // namespace

std::string QueryValue(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const size_t eq = pair.find('=');
        if (pair.substr(0, eq) == name) {
            return eq == std::string_view::npos ? std::string() : std::string(pair.substr(eq + 1));
        }
        if (amp == std::string_view::npos) {
            break;
        }
        query.remove_prefix(amp + 1);
    }
    return {};
}

bool ConstantTimeEqual(std::string_view a, std::string_view b) {
    unsigned difference = a.size() == b.size() ? 0u : 1u;
    const size_t n = std::max(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
        const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
        difference |= static_cast<unsigned>(x ^ y);
    }
    return difference == 0;
}

bool IsLoopback(const std::string& host) {
    in_addr address{};
    return ::inet_pton(AF_INET, host.c_str(), &address) == 1 &&
           (ntohl(address.s_addr) >> 24) == 127;
}

struct HttpServer::Connection {
    int fd = -1;
    uint64_t id = 0;
    Clock::time_point opened;
    std::string in;
    bool answered = false;  // a request was read; no more are
    bool waiting = false;   // its answer comes later
    bool stream = false;
    std::string out;                          // bytes to write before any part
    std::shared_ptr<const std::string> part;  // the part under way
    size_t partSent = 0;
    std::shared_ptr<const std::string> next;  // the newest part waiting
    uint64_t parts = 0;
    uint64_t dropped = 0;
    bool closeWhenWritten = false;
    bool dead = false;
};

std::unique_ptr<HttpServer> HttpServer::Listen(const std::string& host, int port,
                                               std::string* error) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        *error = "not an IPv4 address: " + host;
        return nullptr;
    }
    const platform::sys::Outcome made = platform::sys::Call(
        "socket", [] { return ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); });
    if (made.Failed()) {
        *error = made.Describe();
        return nullptr;
    }
    const int fd = static_cast<int>(made.result);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    platform::sys::Outcome o = platform::sys::Call("bind", [&] {
        return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    });
    if (!o.Failed()) {
        o = platform::sys::Call("listen", [&] { return ::listen(fd, 16); });
    }
    socklen_t length = sizeof address;
    if (!o.Failed()) {
        o = platform::sys::Call("getsockname", [&] {
            return ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        });
    }
    if (o.Failed()) {
        *error = o.Describe();
        platform::sys::Close(fd, "the listening socket");
        return nullptr;
    }
    return std::unique_ptr<HttpServer>(new HttpServer(fd, ntohs(address.sin_port), host));
}

HttpServer::HttpServer(int fd, int port, std::string host)
    : fd_(fd), port_(port), host_(std::move(host)) {}

HttpServer::~HttpServer() {
    for (auto& c : connections_) {
        platform::sys::Close(c->fd, "a browser's connection");
    }
    platform::sys::Close(fd_, "the listening socket");
}

void HttpServer::Poll() {
    std::vector<pollfd> fds;
    fds.push_back({fd_, POLLIN, 0});
    for (const auto& c : connections_) {
        short events = 0;
        if (!c->answered) {
            events |= POLLIN;
        }
        if (!c->out.empty() || c->part != nullptr || c->next != nullptr) {
            events |= POLLOUT;
        }
        // A viewer's socket is also watched for its hang-up.
        fds.push_back({c->fd, static_cast<short>(events | POLLRDHUP), 0});
    }
    const platform::sys::Outcome polled = platform::sys::Call(
        "poll", [&] { return ::poll(fds.data(), static_cast<nfds_t>(fds.size()), 0); });
    if (polled.Failed() || polled.result == 0) {
        // Requests that take too long are ended even when nothing moves.
        for (auto& c : connections_) {
            if (!c->answered && Clock::now() - c->opened > kRequestLimit) {
                Close(*c);
            }
        }
    } else {
        const size_t count = connections_.size();
        for (size_t i = 0; i < count; ++i) {
            Connection& c = *connections_[i];
            const short r = fds[i + 1].revents;
            if ((r & (POLLERR | POLLHUP)) != 0 || ((r & POLLRDHUP) != 0 && c.stream)) {
                Close(c);
                continue;
            }
            if ((r & POLLIN) != 0 && !c.answered) {
                Read(c);
            }
            if (!c.dead && (r & POLLOUT) != 0) {
                Write(c);
            }
            if (!c.dead && !c.answered && Clock::now() - c.opened > kRequestLimit) {
                Queue(c, {408, "text/plain; charset=utf-8", "request timeout\n"});
            }
        }
        if ((fds[0].revents & POLLIN) != 0) {
            Accept();
        }
    }
    std::erase_if(connections_, [](const auto& c) { return c->dead; });
}

void HttpServer::Accept() {
    for (;;) {
        const platform::sys::Outcome o = platform::sys::Call("accept4", [&] {
            return ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        });
        if (o.Failed()) {
            return;  // none waiting (EAGAIN), or one that went away first
        }
        auto c = std::make_unique<Connection>();
        c->fd = static_cast<int>(o.result);
        c->id = nextId_++;
        c->opened = Clock::now();
        if (connections_.size() >= kMaxConnections) {
            Queue(*c, {503, "text/plain; charset=utf-8", "too many connections\n"});
        }
        connections_.push_back(std::move(c));
    }
}

void HttpServer::Read(Connection& c) {
    char buffer[4096];
    for (;;) {
        const platform::sys::Outcome o =
            platform::sys::Call("recv", [&] { return ::recv(c.fd, buffer, sizeof buffer, 0); });
        if (o.Failed()) {
            if (o.error != EAGAIN && o.error != EWOULDBLOCK) {
                Close(c);
                return;
            }
            break;
        }
        if (o.result == 0) {
            Close(c);  // gone before it asked for anything whole
            return;
        }
        c.in.append(buffer, static_cast<size_t>(o.result));
        if (c.in.size() > kMaxHead + kMaxBody) {
            break;
        }
    }
    const size_t headEnd = c.in.find("\r\n\r\n");
    if (headEnd == std::string::npos) {
        if (c.in.size() > kMaxHead) {
            Queue(c, {431, "text/plain; charset=utf-8", "request too large\n"});
        }
        return;
    }
    HttpRequest request;
    request.id = c.id;
    const std::string head = c.in.substr(0, headEnd);
    const size_t lineEnd = head.find("\r\n");
    const std::string line = head.substr(0, lineEnd);
    const size_t sp1 = line.find(' ');
    const size_t sp2 = line.find(' ', sp1 == std::string::npos ? sp1 : sp1 + 1);
    if (sp1 == std::string::npos || sp2 == std::string::npos ||
        !line.substr(sp2 + 1).starts_with("HTTP/1.")) {
        Queue(c, {400, "text/plain; charset=utf-8", "bad request\n"});
        return;
    }
    request.method = line.substr(0, sp1);
    const std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    const size_t question = target.find('?');
    request.path = target.substr(0, question);
    request.query = question == std::string::npos ? "" : target.substr(question + 1);
    size_t at = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (at < head.size()) {
        size_t end = head.find("\r\n", at);
        if (end == std::string::npos) {
            end = head.size();
        }
        const std::string header = head.substr(at, end - at);
        const size_t colon = header.find(':');
        if (colon == std::string::npos) {
            Queue(c, {400, "text/plain; charset=utf-8", "bad header\n"});
            return;
        }
        request.headers[Lower(Trim(header.substr(0, colon)))] = Trim(header.substr(colon + 1));
        at = end + 2;
    }
    if (request.headers.contains("transfer-encoding")) {
        Queue(c, {400, "text/plain; charset=utf-8", "no chunked bodies here\n"});
        return;
    }
    size_t bodyLength = 0;
    if (const auto length = request.headers.find("content-length");
        length != request.headers.end()) {
        const std::string& v = length->second;
        if (v.empty() || v.size() > 6 || v.find_first_not_of("0123456789") != std::string::npos) {
            Queue(c, {400, "text/plain; charset=utf-8", "bad length\n"});
            return;
        }
        bodyLength = std::stoul(v);
        if (bodyLength > kMaxBody) {
            Queue(c, {413, "text/plain; charset=utf-8", "body too large\n"});
            return;
        }
    }
    if (c.in.size() < headEnd + 4 + bodyLength) {
        return;  // the body is still coming
    }
    c.answered = true;
    Answer(c, request);
}

void HttpServer::Answer(Connection& c, const HttpRequest& request) {
    if (!token_.empty() && !ConstantTimeEqual(QueryValue(request.query, "token"), token_)) {
        Queue(c, {403, "text/plain; charset=utf-8", "forbidden: the URL's token is needed\n"});
        return;
    }
    if (token_.empty()) {
        // Without a token only this machine's browser reaches us; a page of
        // another site must not use it through a name that points here
        // (DNS rebinding) or by posting to us (cross-site requests).
        // Compared piece by piece: GCC 12 at -O3 takes a literal joined to a
        // string for an overlapping copy (-Wrestrict).
        const std::string port = std::to_string(port_);
        const auto isNameAndPort = [&port](std::string_view text, std::string_view name) {
            return text.size() == name.size() + 1 + port.size() && text.starts_with(name) &&
                   text[name.size()] == ':' && text.ends_with(port);
        };
        const auto host = request.headers.find("host");
        const bool hostOk = host == request.headers.end() || isNameAndPort(host->second, host_) ||
                            isNameAndPort(host->second, "localhost");
        const auto origin = request.headers.find("origin");
        constexpr std::string_view kScheme = "http://";
        const bool originOk =
            origin == request.headers.end() ||
            (host != request.headers.end() &&
             std::string_view(origin->second).starts_with(kScheme) &&
             std::string_view(origin->second).substr(kScheme.size()) == host->second);
        if (!hostOk || (request.method != "GET" && !originOk)) {
            Queue(c, {403, "text/plain; charset=utf-8", "forbidden: not from this page\n"});
            return;
        }
    }
    const HttpResponse response =
        handler_ ? handler_(request) : HttpResponse{404, "text/plain; charset=utf-8", "no\n"};
    if (response.later) {
        c.waiting = true;
        return;
    }
    Queue(c, response);
}

void HttpServer::Respond(uint64_t id, const HttpResponse& response) {
    for (auto& c : connections_) {
        if (c->id == id && c->waiting && !c->dead) {
            c->waiting = false;
            Queue(*c, response);
            return;
        }
    }
}

void HttpServer::Queue(Connection& c, const HttpResponse& r) {
    c.answered = true;
    c.out = "HTTP/1.1 " + std::to_string(r.status) + " " + Reason(r.status) + "\r\n";
    c.out += "Content-Type: " + r.contentType + "\r\n";
    c.out += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n";
    if (!r.stream) {
        c.out += "Content-Length: " + std::to_string(r.body.size()) + "\r\n\r\n" + r.body;
        c.closeWhenWritten = true;
    } else {
        c.out += "\r\n";
        c.stream = true;
        // A small send buffer: what a slow viewer has not taken waits here, in
        // our two parts, rather than seconds of images in the kernel.
        const int size = 128 * 1024;
        ::setsockopt(c.fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    }
    Write(c);
}

void HttpServer::Publish(std::shared_ptr<const std::string> part) {
    for (auto& c : connections_) {
        if (!c->stream || c->dead) {
            continue;
        }
        if (c->next != nullptr) {
            ++c->dropped;  // it has not taken the one before: the newest wins
        }
        c->next = part;
        Write(*c);
    }
}

void HttpServer::Write(Connection& c) {
    for (;;) {
        const char* bytes = nullptr;
        size_t count = 0;
        if (!c.out.empty()) {
            bytes = c.out.data();
            count = c.out.size();
        } else {
            if (c.part == nullptr && c.next != nullptr) {
                c.part = std::move(c.next);
                c.next = nullptr;
                c.partSent = 0;
            }
            if (c.part == nullptr) {
                if (c.closeWhenWritten) {
                    ::shutdown(c.fd, SHUT_WR);
                    Close(c);
                }
                return;
            }
            bytes = c.part->data() + c.partSent;
            count = c.part->size() - c.partSent;
        }
        const platform::sys::Outcome o = platform::sys::Call(
            "send", [&] { return ::send(c.fd, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT); });
        if (o.Failed()) {
            if (o.error != EAGAIN && o.error != EWOULDBLOCK) {
                Close(c);
            }
            return;
        }
        const auto sent = static_cast<size_t>(o.result);
        if (!c.out.empty()) {
            c.out.erase(0, sent);
        } else {
            c.partSent += sent;
            if (c.partSent == c.part->size()) {
                c.part = nullptr;
                ++c.parts;
            }
        }
    }
}

void HttpServer::Close(Connection& c) {
    if (c.dead) {
        return;
    }
    c.dead = true;
    if (c.stream && onViewerLeft_) {
        onViewerLeft_({c.id, 0, c.parts, c.dropped});
    }
    platform::sys::Close(c.fd, "a browser's connection");
}

size_t HttpServer::ViewerCount() const {
    return static_cast<size_t>(std::count_if(connections_.begin(), connections_.end(),
                                             [](const auto& c) { return c->stream && !c->dead; }));
}

std::vector<HttpServer::Viewer> HttpServer::Viewers() const {
    std::vector<Viewer> out;
    for (const auto& c : connections_) {
        if (c->stream && !c->dead) {
            const size_t queued = (c->part != nullptr ? c->part->size() - c->partSent : 0) +
                                  (c->next != nullptr ? c->next->size() : 0);
            out.push_back({c->id, queued, c->parts, c->dropped});
        }
    }
    return out;
}

}  // namespace remote
