#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vx::shared::agents::measurements::http {

// One libcurl easy transfer. Setters return a libcurl result code (0 = success) and never
// throw; the handle owns every piece of memory it hands to libcurl.
class ICurlHandle {
public:
    // An immutable byte block that libcurl reads in place (CURL_BLOB_NOCOPY), so whoever
    // hands it to libcurl keeps it alive as long as libcurl may read it.
    struct CurlBlob {
        explicit CurlBlob(const std::string& text);
        CurlBlob(const CurlBlob&) = delete;
        CurlBlob& operator=(const CurlBlob&) = delete;

        const std::string bytes;
        curl_blob blob;
    };

    enum class HttpMethod : uint32_t { DELETE = 0, GET = 1, PATCH = 2, POST = 3, PUT = 4 };
    enum class Protocol : uint32_t { HTTP = 0, HTTPS = 1, FTP = 2, FTPS = 3, SCP = 4, SFTP = 5 };
    enum class HstsMode : uint32_t { Disabled = 0, Enabled = 1 };
    enum class HttpVersion : uint32_t { Http1_0 = 0, Http1_1 = 1, Http2 = 2 };
    enum class AuthType : uint32_t { None = 0, Basic = 1, Digest = 2, Negotiate = 3, Ntlm = 4 };
    enum class IpResolve : uint32_t { Any = 0, V4 = 1, V6 = 2 };
    enum class SslVersion : int32_t {
        Default = -1, SSLv3 = 0, TLSv1 = 1, TLSv1_0 = 2, TLSv1_1 = 3, TLSv1_2 = 4, TLSv1_3 = 5
    };
    enum class UseSsl : uint32_t { None = 0, Try = 1, Control = 2, All = 3 };

    struct LegacyTlsOptions {
        bool allowLegacyRenegotiation = false;
        bool lowerSecurityLevel = false;
    };

    using Result = uint32_t;  // a CURLcode
    using DataFunction = size_t (*)(char* buffer, size_t size, size_t count, void* userdata);
    using DebugFunction = curl_debug_callback;
    using SslContextFunction = CURLcode (*)(CURL* curl, void* sslContext, void* userdata);
    using OpenSocketFunction = curl_opensocket_callback;
    using Seconds = int64_t;
    using Milliseconds = int64_t;
    using Microseconds = int64_t;
    using Fields = std::vector<std::pair<std::string, std::string>>;

    virtual ~ICurlHandle() = default;

    virtual std::shared_ptr<CurlBlob> createBlob(const std::string& bytes) = 0;

    // Queries: 0 or "" when libcurl has nothing to report.
    virtual int32_t getResponseCode() const = 0;
    virtual double getNameLookupTime() const = 0;
    virtual double getConnectTime() const = 0;
    virtual double getAppConnectTime() const = 0;
    virtual double getPreTransferTime() const = 0;
    virtual double getStartTransferTime() const = 0;
    virtual double getTotalTime() const = 0;
    virtual Microseconds getNameLookupTimeUs() const = 0;
    virtual Microseconds getConnectTimeUs() const = 0;
    virtual Microseconds getAppConnectTimeUs() const = 0;
    virtual Microseconds getPreTransferTimeUs() const = 0;
    virtual Microseconds getStartTransferTimeUs() const = 0;
    virtual Microseconds getTotalTimeUs() const = 0;
    virtual std::string getPrimaryIp() const = 0;
    virtual std::string getEffectiveUrl() const = 0;
    virtual std::string getRedirectUrl() const = 0;
    virtual long getOsErrno() const = 0;
    virtual std::string getErrorMessage() const = 0;
    virtual CURL* getNativeHandle() const = 0;

    // Lifecycle.
    virtual bool init() = 0;
    virtual void reset() = 0;
    virtual Result perform() = 0;

    // Request set-up.
    virtual Result setHttpProxyTunnel(bool enabled) = 0;
    virtual Result setAllowedProtocols(const std::vector<Protocol>& protocols) = 0;
    virtual Result setUrl(const std::string& url) = 0;
    virtual Result setUserAgent(const std::string& userAgent) = 0;
    virtual Result setAcceptEncoding(const std::string& encoding) = 0;
    virtual Result setCookieFile(const std::string& path) = 0;
    virtual Result setHeaders(const std::vector<std::string>& lines) = 0;
    virtual Result setFollowLocation(bool follow) = 0;
    virtual Result setHsts(HstsMode mode) = 0;
    virtual Result setMethod(HttpMethod method) = 0;
    virtual Result setBody(HttpMethod method, const std::string& body) = 0;
    virtual Result setBodyStream(HttpMethod method, DataFunction read, void* userdata, uint64_t size) = 0;
    virtual Result setMimePost(const Fields& fields, const Fields& files) = 0;
    virtual Result setHttpAuth(AuthType type, const std::string& user, const std::string& password) = 0;
    virtual Result setHttpVersion(HttpVersion version) = 0;
    virtual Result setUnrestrictedAuth(bool enabled) = 0;
    virtual Result setFailOnError(bool enabled) = 0;
    virtual Result setFtpPort(const std::string& port) = 0;
    virtual Result setUsernameAndPassword(const std::string& user, const std::string& password) = 0;
    virtual Result setUpload(DataFunction read, void* userdata, uint64_t size) = 0;
    virtual Result setDnsCacheTimeout(const Seconds& timeout) = 0;
    virtual Result setResolve(const std::string& host, const std::vector<std::string>& addresses,
                              uint16_t port) = 0;
    virtual Result setIpResolve(IpResolve resolve) = 0;
    virtual Result setInterface(const std::string& name) = 0;
    virtual Result setConnectionReuse(bool reuse) = 0;
    virtual Result setTimeout(const Seconds& timeout) = 0;
    virtual Result setTimeoutMs(const Milliseconds& timeout) = 0;
    virtual Result setProxy(const std::string& proxy) = 0;
    virtual Result setProxyAuth(AuthType type, const std::string& user, const std::string& password) = 0;
    virtual Result setSslVersion(SslVersion version) = 0;
    virtual Result setSslCipherList(const std::string& ciphers) = 0;
    virtual Result setSslVerifyPeer(bool verify) = 0;
    virtual Result setSslVerifyHost(bool verify) = 0;
    virtual Result setCaInfoBlob(const std::shared_ptr<CurlBlob>& blob) = 0;
    virtual Result setClientCertificate(const std::shared_ptr<CurlBlob>& key,
                                        const std::shared_ptr<CurlBlob>& certificate) = 0;
    virtual Result unsupportedOption() = 0;
    virtual Result setCaInfo(const std::string& path) = 0;
    virtual Result setCaPath(const std::string& directory) = 0;
    virtual Result setLegacyTls(const LegacyTlsOptions& options) = 0;
    virtual Result setUseSsl(UseSsl mode) = 0;
    virtual Result setSignalsEnabled(bool enabled) = 0;
    virtual Result setDebugCallback(DebugFunction function, void* userdata) = 0;
    virtual Result setReadCallback(DataFunction function, void* userdata) = 0;
    virtual Result setWriteCallback(DataFunction function, void* userdata) = 0;
    virtual Result setHeaderCallback(DataFunction function, void* userdata) = 0;
    virtual Result setSslCtxCallback(SslContextFunction function, void* userdata) = 0;
    virtual Result setOpenSocketCallback(OpenSocketFunction function, void* userdata) = 0;
};

}  // namespace vx::shared::agents::measurements::http
