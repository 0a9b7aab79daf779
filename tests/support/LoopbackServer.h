#pragma once
// A web server on 127.0.0.1 for the page tests: it answers every request with
// one small HTML document and counts the requests. Each connection is served
// on a worker thread, since the web engine also opens connections that send
// nothing (it connects ahead when a link is pressed); new connections are
// taken in the main loop, so the test must run it (PumpUntil). Header only:
// it needs GIO, which the tests that use it link through GTK.

#include <gio/gio.h>

#include <atomic>
#include <string>

namespace korvotest {

class LoopbackServer {
  public:
    explicit LoopbackServer(std::string body) : body(std::move(body)) {
        service = g_threaded_socket_service_new(4);
        GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
        GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
        GSocketAddress* bound = nullptr;
        g_socket_listener_add_address(G_SOCKET_LISTENER(service), address, G_SOCKET_TYPE_STREAM,
                                      G_SOCKET_PROTOCOL_TCP, nullptr, &bound, nullptr);
        if (bound) port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));
        g_clear_object(&bound);
        g_object_unref(address);
        g_object_unref(loopback);
        g_signal_connect(service, "run", G_CALLBACK(&LoopbackServer::OnRun), this);
        g_socket_service_start(service);
    }
    ~LoopbackServer() {
        g_socket_service_stop(service);
        g_socket_listener_close(G_SOCKET_LISTENER(service));
        g_object_unref(service);
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::string Base() const { return "http://127.0.0.1:" + std::to_string(port); }
    // HTTP requests received so far.
    int Requests() const { return requests.load(); }

    int port = 0;

  private:
    static gboolean OnRun(GThreadedSocketService*, GSocketConnection* connection, GObject*,
                          gpointer data) {
        auto* self = static_cast<LoopbackServer*>(data);
        GSocket* socket = g_socket_connection_get_socket(connection);
        g_socket_set_timeout(socket, 5);
        GInputStream* in = g_io_stream_get_input_stream(G_IO_STREAM(connection));
        std::string request;
        char buffer[1024];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
            gssize got = g_input_stream_read(in, buffer, sizeof buffer, nullptr, nullptr);
            if (got <= 0) break;
            request.append(buffer, static_cast<size_t>(got));
        }
        if (request.empty()) return TRUE;  // connected, asked for nothing
        self->requests++;
        std::string reply =
            "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nAccess-Control-Allow-Origin: "
            "*\r\nContent-Length: " +
            std::to_string(self->body.size()) + "\r\n\r\n" + self->body;
        GOutputStream* out = g_io_stream_get_output_stream(G_IO_STREAM(connection));
        g_output_stream_write_all(out, reply.data(), reply.size(), nullptr, nullptr, nullptr);
        g_io_stream_close(G_IO_STREAM(connection), nullptr, nullptr);
        return TRUE;
    }

    const std::string body;
    GSocketService* service = nullptr;
    std::atomic<int> requests{0};
};

}  // namespace korvotest
