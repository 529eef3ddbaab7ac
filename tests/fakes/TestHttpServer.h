#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quantiro::testing {

// A small HTTP/1.0 server on 127.0.0.1 and a free port, serving fixed bodies by
// path (404 for anything else), optionally after a delay.
class TestHttpServer {
public:
    TestHttpServer() {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        ::listen(m_listener, 16);
        m_thread = std::thread([this] { Serve(); });
    }
    ~TestHttpServer() {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    void Serve(const std::string& path, std::string body) {
        std::lock_guard lock(m_mutex);
        m_bodies[path] = std::move(body);
    }
    void SetDelay(std::chrono::milliseconds delay) { m_delay = delay; }
    int Requests() const { return m_requests; }

private:
    void Serve() {
        while (!m_stop) {
            pollfd waiting{m_listener, POLLIN, 0};
            if (::poll(&waiting, 1, 50) <= 0) {
                continue;
            }
            const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0) {
                continue;
            }
            ++m_requests;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    break;
                }
                request.append(buffer, static_cast<std::size_t>(n));
            }
            const auto start = request.find(' ') + 1;
            const std::string path = request.substr(start, request.find(' ', start) - start);
            // Waits in small steps, so the server can still be stopped.
            for (auto waited = std::chrono::milliseconds(0); waited < m_delay.load() && !m_stop;
                 waited += std::chrono::milliseconds(50)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            std::string response;
            {
                std::lock_guard lock(m_mutex);
                const auto found = m_bodies.find(path);
                response = found == m_bodies.end()
                               ? std::string("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n")
                               : "HTTP/1.0 200 OK\r\nContent-Length: " +
                                     std::to_string(found->second.size()) + "\r\n\r\n" +
                                     found->second;
            }
            ::send(connection, response.data(), response.size(), MSG_NOSIGNAL);
            ::close(connection);
        }
    }

    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<std::chrono::milliseconds> m_delay{std::chrono::milliseconds(0)};
    std::atomic<int> m_requests{0};
    std::mutex m_mutex;
    std::map<std::string, std::string> m_bodies;
};

} // namespace quantiro::testing
