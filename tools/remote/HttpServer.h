// A small HTTP/1.1 server for camora-remote serve, run from the tool's own
// message loop (Poll does what is waiting and never blocks): one request per
// connection, fixed routes chosen by the handler, never a file. Streams
// (multipart MJPEG) get each published part; a viewer still sending an
// earlier part keeps only the newest one waiting, so a viewer that stops
// reading holds at most two parts and slows nobody else.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace remote {

struct HttpRequest {
    uint64_t id = 0;  // for a later Respond
    std::string method;
    std::string path;                            // without the query
    std::string query;                           // after '?', undecoded
    std::map<std::string, std::string> headers;  // names in lower case
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    bool stream = false;  // an MJPEG stream: headers now, then the published parts
    bool later = false;   // answered later with Respond(request.id, ...)
};

// The value of `name` in a query string ("a=1&token=x"); empty when absent.
std::string QueryValue(std::string_view query, std::string_view name);
// Compares in a time that depends on the lengths only, not on where they differ.
bool ConstantTimeEqual(std::string_view a, std::string_view b);
// Whether an IPv4 address in dotted form is a loopback one (127.0.0.0/8).
bool IsLoopback(const std::string& host);

class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;
    struct Viewer {
        uint64_t id = 0;
        size_t queuedBytes = 0;  // bytes held for it: the part under way and one waiting
        uint64_t parts = 0;      // parts sent whole
        uint64_t dropped = 0;    // parts replaced before it took them
    };

    // Listens on host:port (port 0: a free one); null with the reason in *error.
    static std::unique_ptr<HttpServer> Listen(const std::string& host, int port,
                                              std::string* error);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    int Port() const { return port_; }
    // Every request must then carry ?token=TOKEN (403 without); empty: none.
    void RequireToken(std::string token) { token_ = std::move(token); }
    void SetHandler(Handler handler) { handler_ = std::move(handler); }
    void OnViewerLeft(std::function<void(const Viewer&)> f) { onViewerLeft_ = std::move(f); }

    // Accepts, reads, answers and writes what can be done now.
    void Poll();
    void Respond(uint64_t id, const HttpResponse& response);
    // One part to every stream viewer.
    void Publish(std::shared_ptr<const std::string> part);
    size_t ViewerCount() const;
    std::vector<Viewer> Viewers() const;

private:
    struct Connection;
    HttpServer(int fd, int port, std::string host);
    void Accept();
    void Read(Connection& c);
    void Answer(Connection& c, const HttpRequest& request);
    void Queue(Connection& c, const HttpResponse& response);
    void Write(Connection& c);
    void Close(Connection& c);

    int fd_;
    int port_;
    std::string host_;
    std::string token_;
    Handler handler_;
    std::function<void(const Viewer&)> onViewerLeft_;
    uint64_t nextId_ = 1;
    std::vector<std::unique_ptr<Connection>> connections_;
};

}  // namespace remote
