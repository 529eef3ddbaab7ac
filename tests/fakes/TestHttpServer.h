#pragma once

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quantiro::testing {

// A small HTTP/1.0 server on 127.0.0.1 and a free port, serving one body at one
// path (404 for anything else). Without a body it accepts no connection at all, so
// a client's request waits for an answer that never comes.
class TestHttpServer {
public:
    TestHttpServer() { Listen(); }
    TestHttpServer(std::string path, std::string body)
        : m_path(std::move(path))
        , m_body(std::move(body)) {
        Listen();
        m_thread = std::thread([this] { Serve(); });
    }
    ~TestHttpServer() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
        ::close(m_listener);
    }
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // Answers at `path` with a chunked reply that never ends (until the client goes
    // or the server is destroyed): no length is ever declared.
    struct EndlessTag {};
    TestHttpServer(EndlessTag, std::string path)
        : m_path(std::move(path))
        , m_endless(true) {
        Listen();
        m_thread = std::thread([this] { Serve(); });
    }

    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(m_port); }

private:
    void Listen() {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        ::listen(m_listener, 16);
    }
    void Serve() {
        while (!m_stop) {
            pollfd waiting{m_listener, POLLIN, 0};
            const int connection = ::poll(&waiting, 1, 50) > 0
                                       ? ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC)
                                       : -1;
            if (connection < 0) {
                continue;
            }
            std::string request;
            char buffer[4096];
            for (ssize_t n = 1; n > 0 && request.find("\r\n\r\n") == std::string::npos;) {
                n = ::recv(connection, buffer, sizeof buffer, 0);
                request.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
            }
            const auto start = request.find(' ') + 1;
            if (m_endless) {
                const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
                const std::string chunk = "10000\r\n" + std::string(0x10000, 'x') + "\r\n";
                bool open = ::send(connection, head.data(), head.size(), MSG_NOSIGNAL) > 0;
                while (open && !m_stop) {
                    open = ::send(connection, chunk.data(), chunk.size(), MSG_NOSIGNAL) > 0;
                }
                ::close(connection);
                continue;
            }
            const std::string response =
                request.substr(start, request.find(' ', start) - start) != m_path
                    ? std::string("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n")
                    : "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(m_body.size()) +
                          "\r\n\r\n" + m_body;
            ::send(connection, response.data(), response.size(), MSG_NOSIGNAL);
            ::close(connection);
        }
    }

    const std::string m_path, m_body;
    const bool m_endless = false;
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

} // namespace quantiro::testing
