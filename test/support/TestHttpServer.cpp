#include "support/TestHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <strings.h>

#include "support/TestCertificates.h"

namespace vx::test {
namespace {

constexpr size_t kMaxHeaderBytes = 1 << 20;
constexpr size_t kMaxBodyBytes = 64 << 20;

std::string reasonOf(int status) {
    switch (status) {
        case 100: return "Continue";
        case 200: return "OK";
        case 201: return "Created";
        case 204: return "No Content";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 500: return "Internal Server Error";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

void loadServerIdentity(SSL_CTX* context, const TestCertificates& certs) {
    BIO* certBio = BIO_new_mem_buf(certs.serverCertificatePem.data(), static_cast<int>(certs.serverCertificatePem.size()));
    BIO* keyBio = BIO_new_mem_buf(certs.serverKeyPem.data(), static_cast<int>(certs.serverKeyPem.size()));
    X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    const bool ok = cert != nullptr && key != nullptr && SSL_CTX_use_certificate(context, cert) == 1 &&
                    SSL_CTX_use_PrivateKey(context, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(certBio);
    BIO_free(keyBio);
    if (!ok) {
        throw std::runtime_error("test server: cannot load the TLS identity");
    }
}

}  // namespace

std::optional<std::string> RecordedRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (sameName(key, name)) {
            return value;
        }
    }
    return std::nullopt;
}

// One accepted socket, plain or TLS, with a read buffer.
class TestHttpServer::Connection {
public:
    Connection(int socketFd, SSL* session) : fd(socketFd), ssl(session) {}
    ~Connection() {
        if (ssl != nullptr) {
            SSL_free(ssl);
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Appends what arrives to `buffer`; false on end of stream or error.
    bool fill() {
        char chunk[16384];
        const long n = ssl != nullptr ? SSL_read(ssl, chunk, sizeof(chunk))
                                      : ::recv(fd, chunk, sizeof(chunk), 0);
        if (n <= 0) {
            return false;
        }
        buffer.append(chunk, static_cast<size_t>(n));
        return true;
    }

    bool writeAll(const std::string& data) {
        size_t done = 0;
        while (done < data.size()) {
            const long n = ssl != nullptr
                ? SSL_write(ssl, data.data() + done, static_cast<int>(data.size() - done))
                : ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Takes `count` bytes from the front of the buffer, reading more as needed.
    std::optional<std::string> take(size_t count) {
        while (buffer.size() < count) {
            if (!fill()) {
                return std::nullopt;
            }
        }
        std::string taken = buffer.substr(0, count);
        buffer.erase(0, count);
        return taken;
    }

    // Takes one line without its CRLF.
    std::optional<std::string> takeLine(size_t limit) {
        size_t end;
        while ((end = buffer.find("\r\n")) == std::string::npos) {
            if (buffer.size() > limit || !fill()) {
                return std::nullopt;
            }
        }
        std::string line = buffer.substr(0, end);
        buffer.erase(0, end + 2);
        return line;
    }

    bool readRequest(RecordedRequest& request) {
        const auto requestLine = takeLine(kMaxHeaderBytes);
        if (!requestLine) {
            return false;
        }
        const auto firstSpace = requestLine->find(' ');
        const auto lastSpace = requestLine->rfind(' ');
        if (firstSpace == std::string::npos || lastSpace == firstSpace) {
            return false;
        }
        request.method = requestLine->substr(0, firstSpace);
        request.target = requestLine->substr(firstSpace + 1, lastSpace - firstSpace - 1);
        request.version = requestLine->substr(lastSpace + 1);
        for (;;) {
            const auto line = takeLine(kMaxHeaderBytes);
            if (!line) {
                return false;
            }
            if (line->empty()) {
                break;
            }
            const auto colon = line->find(':');
            if (colon == std::string::npos) {
                return false;
            }
            request.headers.emplace_back(line->substr(0, colon), trim(line->substr(colon + 1)));
        }
        if (const auto expect = request.header("Expect"); expect && sameName(*expect, "100-continue")) {
            if (!writeAll("HTTP/1.1 100 Continue\r\n\r\n")) {
                return false;
            }
        }
        if (const auto encoding = request.header("Transfer-Encoding"); encoding && sameName(*encoding, "chunked")) {
            return readChunked(request.body);
        }
        const auto length = request.header("Content-Length");
        const size_t size = length ? std::stoull(*length) : 0;
        if (size > kMaxBodyBytes) {
            return false;
        }
        const auto body = take(size);
        if (!body) {
            return false;
        }
        request.body = *body;
        return true;
    }

    bool readChunked(std::string& body) {
        for (;;) {
            const auto sizeLine = takeLine(1024);
            if (!sizeLine) {
                return false;
            }
            const size_t size = std::stoull(*sizeLine, nullptr, 16);
            if (size == 0) {
                // Skip trailers up to the empty line.
                for (auto line = takeLine(kMaxHeaderBytes); line; line = takeLine(kMaxHeaderBytes)) {
                    if (line->empty()) {
                        return true;
                    }
                }
                return false;
            }
            if (body.size() + size > kMaxBodyBytes) {
                return false;
            }
            const auto data = take(size + 2);
            if (!data) {
                return false;
            }
            body.append(*data, 0, size);
        }
    }

private:
    int fd;
    SSL* ssl;
    std::string buffer;
};

TestHttpServer::TestHttpServer(Tls tls) {
    std::signal(SIGPIPE, SIG_IGN);
    if (tls == Tls::On) {
        const TestCertificates certs = TestCertificates::generate();
        caText = certs.caCertificatePem;
        caPath = dir.writeFile("ca.pem", caText);
        tlsContext = SSL_CTX_new(TLS_server_method());
        if (tlsContext == nullptr) {
            throw std::runtime_error("test server: SSL_CTX_new failed");
        }
        loadServerIdentity(tlsContext, certs);
    }
    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (listenFd < 0 || ::bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listenFd, 64) != 0 ||
        ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = errno;
        if (listenFd >= 0) {
            ::close(listenFd);
        }
        SSL_CTX_free(tlsContext);
        throw std::runtime_error(std::string("test server: cannot listen: ") + std::strerror(error));
    }
    boundPort = ntohs(address.sin_port);
    acceptor = std::thread([this] { acceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    stopSignal.notify_all();
    ::shutdown(listenFd, SHUT_RDWR);  // wakes the blocked accept
    acceptor.join();
    ::close(listenFd);
    // No new connection can appear now; wake every reader and wait for it.
    for (const int fd : connectionFds) {
        ::shutdown(fd, SHUT_RDWR);
    }
    for (auto& thread : connectionThreads) {
        thread.join();
    }
    for (const int fd : connectionFds) {
        ::close(fd);
    }
    SSL_CTX_free(tlsContext);
}

void TestHttpServer::respond(ScriptedResponse response) {
    std::lock_guard<std::mutex> lock(mutex);
    script.push_back(std::move(response));
}

std::string TestHttpServer::url(const std::string& path) const {
    return std::string(tlsContext != nullptr ? "https" : "http") + "://127.0.0.1:" +
           std::to_string(boundPort) + path;
}

std::vector<RecordedRequest> TestHttpServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex);
    return recorded;
}

size_t TestHttpServer::connectionCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return connectionFds.size();
}

void TestHttpServer::acceptLoop() {
    for (;;) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping) {
            if (fd >= 0) {
                ::close(fd);
            }
            return;
        }
        if (fd < 0) {
            continue;  // e.g. ECONNABORTED; shutdown of the listener is seen through `stopping`
        }
        const size_t index = connectionFds.size();
        connectionFds.push_back(fd);
        connectionThreads.emplace_back([this, fd, index] { serve(fd, index); });
    }
}

void TestHttpServer::serve(int fd, size_t index) {
    SSL* ssl = nullptr;
    if (tlsContext != nullptr) {
        ssl = SSL_new(tlsContext);
        if (ssl == nullptr || SSL_set_fd(ssl, fd) != 1 || SSL_accept(ssl) != 1) {
            ERR_clear_error();
            SSL_free(ssl);
            ::shutdown(fd, SHUT_RDWR);
            return;
        }
    }
    Connection connection(fd, ssl);
    for (;;) {
        RecordedRequest request;
        request.connection = index;
        bool complete = false;
        try {
            complete = connection.readRequest(request);
        } catch (const std::exception&) {  // unparsable length
        }
        if (!complete) {
            break;
        }
        const auto connectionHeader = request.header("Connection");
        const bool clientCloses = (connectionHeader && sameName(*connectionHeader, "close")) ||
                                  request.version == "HTTP/1.0";
        {
            std::lock_guard<std::mutex> lock(mutex);
            recorded.push_back(std::move(request));
        }
        const ScriptedResponse response = nextResponse();
        if (!waitUnlessStopping(response.delay) || response.hangUp) {
            break;
        }
        const bool closeAfter = response.close || clientCloses;
        std::string text = "HTTP/1.1 " + std::to_string(response.status) + " " + reasonOf(response.status) + "\r\n";
        bool hasLength = false;
        for (const auto& [name, value] : response.headers) {
            hasLength = hasLength || sameName(name, "Content-Length");
            text += name + ": " + value + "\r\n";
        }
        if (!hasLength) {
            text += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
        }
        if (closeAfter) {
            text += "Connection: close\r\n";
        }
        text += "\r\n" + response.body;
        if (!connection.writeAll(text) || closeAfter) {
            break;
        }
    }
    if (ssl != nullptr) {
        SSL_shutdown(ssl);
    }
    ERR_clear_error();
    ::shutdown(fd, SHUT_RDWR);
}

ScriptedResponse TestHttpServer::nextResponse() {
    std::lock_guard<std::mutex> lock(mutex);
    if (script.empty()) {
        return ScriptedResponse{};
    }
    ScriptedResponse next = std::move(script.front());
    script.pop_front();
    return next;
}

bool TestHttpServer::waitUnlessStopping(std::chrono::milliseconds delay) {
    std::unique_lock<std::mutex> lock(mutex);
    return !stopSignal.wait_for(lock, delay, [this] { return stopping.load(); });
}

}  // namespace vx::test
