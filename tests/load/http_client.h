// A minimal HTTP/1.1 client for the load test: one persistent connection to
// 127.0.0.1, requests sent whole, responses read whole (Content-Length,
// chunked, or up to the server's close).
#pragma once

#include <string>

struct HttpResponse {
    int status = 0;           // 0: no status line received
    std::string body;
    bool complete = false;    // the framing said the body ended where it did
    std::string failure;      // transport problem, empty when none
};

class HttpConnection {
public:
    explicit HttpConnection(int port) : port_(port) {}
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    HttpResponse get(const std::string& target);
    HttpResponse post(const std::string& target, const std::string& content_type, const std::string& body);

private:
    HttpResponse exchange(const std::string& request, bool may_retry);
    bool connect_now(std::string& failure);
    void drop();
    bool fill(std::string& failure);  // reads more into buffer_; false at EOF or on error

    int port_;
    int fd_ = -1;
    std::string buffer_;
};

// A multipart/form-data body.
class Multipart {
public:
    Multipart& field(const std::string& name, const std::string& value);
    Multipart& file(const std::string& name, const std::string& filename, const std::string& content);
    std::string content_type() const;
    std::string finish() const;

private:
    std::string parts_;
};
