#include "http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

// Longer than the board's longest lock wait, so a slow answer is measured, not cut.
constexpr int kReceiveTimeoutSeconds = 60;
const char kBoundary[] = "----wbbsLoadBoundary5d1c";

bool send_all(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string header_value(const std::string& head, const char* name) {
    const std::size_t name_len = std::strlen(name);
    std::size_t at = head.find("\r\n");
    while (at != std::string::npos && at + 2 < head.size()) {
        const std::size_t start = at + 2;
        const std::size_t end = head.find("\r\n", start);
        const std::string line = head.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (line.size() > name_len && line[name_len] == ':' && strncasecmp(line.c_str(), name, name_len) == 0) {
            std::size_t v = name_len + 1;
            while (v < line.size() && line[v] == ' ') ++v;
            return line.substr(v);
        }
        at = end;
    }
    return "";
}

}  // namespace

HttpConnection::~HttpConnection() { drop(); }

void HttpConnection::drop() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    buffer_.clear();
}

bool HttpConnection::connect_now(std::string& failure) {
    drop();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        failure = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval timeout{kReceiveTimeoutSeconds, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        failure = std::string("connect: ") + std::strerror(errno);
        drop();
        return false;
    }
    return true;
}

bool HttpConnection::fill(std::string& failure) {
    char chunk[16384];
    for (;;) {
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n > 0) {
            buffer_.append(chunk, static_cast<std::size_t>(n));
            return true;
        }
        if (n == 0) return false;
        if (errno == EINTR) continue;
        failure = std::string("receive: ") + std::strerror(errno);
        return false;
    }
}

HttpResponse HttpConnection::get(const std::string& target) {
    return exchange("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: wbbs-load\r\n\r\n", true);
}

HttpResponse HttpConnection::post(const std::string& target, const std::string& content_type,
                                  const std::string& body) {
    std::string request = "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: wbbs-load\r\n";
    request += "Content-Type: " + content_type + "\r\n";
    request += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    request += body;
    // A post is never sent twice once the server may have read it.
    return exchange(request, false);
}

HttpResponse HttpConnection::exchange(const std::string& request, bool may_retry) {
    HttpResponse response;
    for (int attempt = 0;; ++attempt) {
        const bool reused = fd_ >= 0;
        if (!reused && !connect_now(response.failure)) return response;
        buffer_.clear();
        if (!send_all(fd_, request)) {
            // A kept-alive connection the server had closed: nothing was read there.
            drop();
            if (reused && attempt == 0) continue;
            response.failure = "send failed";
            return response;
        }
        std::size_t head_end;
        bool got_any = true;
        while ((head_end = buffer_.find("\r\n\r\n")) == std::string::npos) {
            if (!fill(response.failure)) {
                got_any = !buffer_.empty();
                break;
            }
        }
        if (head_end == std::string::npos) {
            drop();
            if (!got_any && reused && may_retry && attempt == 0 && response.failure.empty()) continue;
            if (response.failure.empty()) response.failure = got_any ? "connection closed in the header" : "connection closed before any answer";
            return response;
        }
        const std::string head = buffer_.substr(0, head_end);
        buffer_.erase(0, head_end + 4);
        if (head.size() > 12 && head.compare(0, 5, "HTTP/") == 0) response.status = std::atoi(head.c_str() + 9);
        const bool close_after = strcasecmp(header_value(head, "Connection").c_str(), "close") == 0;
        const std::string length = header_value(head, "Content-Length");
        if (!length.empty()) {
            const std::size_t want = std::strtoul(length.c_str(), nullptr, 10);
            while (buffer_.size() < want && fill(response.failure)) {
            }
            response.complete = buffer_.size() >= want;
            response.body = buffer_.substr(0, want);
            buffer_.erase(0, std::min(want, buffer_.size()));
        } else if (strcasecmp(header_value(head, "Transfer-Encoding").c_str(), "chunked") == 0) {
            for (;;) {
                std::size_t line_end;
                while ((line_end = buffer_.find("\r\n")) == std::string::npos && fill(response.failure)) {
                }
                if (line_end == std::string::npos) break;
                const std::size_t size = std::strtoul(buffer_.c_str(), nullptr, 16);
                if (size == 0) {
                    // The last chunk; no trailers are sent by the server.
                    while (buffer_.size() < line_end + 4 && fill(response.failure)) {
                    }
                    response.complete = buffer_.size() >= line_end + 4;
                    buffer_.erase(0, std::min(line_end + 4, buffer_.size()));
                    break;
                }
                while (buffer_.size() < line_end + 2 + size + 2 && fill(response.failure)) {
                }
                if (buffer_.size() < line_end + 2 + size + 2) break;
                response.body.append(buffer_, line_end + 2, size);
                buffer_.erase(0, line_end + 2 + size + 2);
            }
        } else {
            while (fill(response.failure)) {
            }
            response.body = buffer_;
            response.complete = response.failure.empty();
            drop();
        }
        if (!response.complete && response.failure.empty()) response.failure = "the answer ended early";
        if (close_after || !response.complete) drop();
        return response;
    }
}

Multipart& Multipart::field(const std::string& name, const std::string& value) {
    parts_ += std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n";
    parts_ += value + "\r\n";
    return *this;
}

Multipart& Multipart::file(const std::string& name, const std::string& filename, const std::string& content) {
    parts_ += std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name +
              "\"; filename=\"" + filename + "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
    parts_ += content + "\r\n";
    return *this;
}

std::string Multipart::content_type() const { return std::string("multipart/form-data; boundary=") + kBoundary; }

std::string Multipart::finish() const { return parts_ + "--" + kBoundary + "--\r\n"; }
