#include "RawTlsServer.h"

#include "ExamServerProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>

namespace brevik::test {

RawTlsServer::RawTlsServer(std::function<void(SSL*, RawTlsServer&)> answer)
    : answer_(std::move(answer)) {
    std::signal(SIGPIPE, SIG_IGN); // a client that went away is no crash of the test
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listenFd_, 8);
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { serve(); });
}

RawTlsServer::~RawTlsServer() {
    stop_ = true;
    thread_.join();
    ::close(listenFd_);
}

QString RawTlsServer::baseUrl() const {
    return QStringLiteral("https://127.0.0.1:%1").arg(port_);
}

bool RawTlsServer::write(SSL* ssl, const char* bytes, int n) {
    return SSL_write(ssl, bytes, n) == n;
}

void RawTlsServer::pause(int ms) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stop_ && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void RawTlsServer::serve() {
    const TestCerts& certs = testCerts();
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_chain_file(ctx, certs.certFile.toLocal8Bit().constData());
    SSL_CTX_use_PrivateKey_file(ctx, certs.keyFile.toLocal8Bit().constData(), SSL_FILETYPE_PEM);
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++connections_;
        SSL* ssl = SSL_new(ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            std::string head;
            char buf[1024];
            while (head.find("\r\n\r\n") == std::string::npos) {
                const int n = SSL_read(ssl, buf, sizeof buf);
                if (n <= 0)
                    break;
                head.append(buf, size_t(n));
            }
            answer_(ssl, *this);
            SSL_shutdown(ssl);
        }
        SSL_free(ssl);
        ::close(fd);
    }
    SSL_CTX_free(ctx);
}

} // namespace brevik::test
