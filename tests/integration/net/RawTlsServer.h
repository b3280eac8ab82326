#pragma once
// A TLS server of the test's own on 127.0.0.1 that answers every connection
// with whatever `answer` writes, byte by byte if it likes: for replies that no
// HTTP server library would send (a status line one byte a second).
#include <QString>

#include <atomic>
#include <functional>
#include <thread>

typedef struct ssl_st SSL;

namespace brevik::test {

class RawTlsServer {
public:
    // answer gets the connection after the request head has been read; it
    // should return once stopping() is true or a write fails.
    explicit RawTlsServer(std::function<void(SSL*, RawTlsServer&)> answer);
    ~RawTlsServer();
    int port() const { return port_; }
    QString baseUrl() const;
    bool stopping() const { return stop_; }
    int connections() const { return connections_; }
    // Writes bytes; false once the client has gone.
    static bool write(SSL* ssl, const char* bytes, int n);
    // Sleeps ms unless the server is stopping.
    void pause(int ms) const;

private:
    void serve();
    std::function<void(SSL*, RawTlsServer&)> answer_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

} // namespace brevik::test
