#pragma once

#include <curl/curl.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "http_client/ICurlHandle.h"
#include "http_client/StringUpload.h"

namespace vx::shared::agents::measurements::http {

// The libcurl easy-handle wrapper. Owns every text, list, blob, MIME structure and upload body it
// hands to libcurl, so callers pass plain values. One thread at a time; never logs, never throws.
class CurlHandle : public ICurlHandle {
public:
    CurlHandle();
    ~CurlHandle() override;
    CurlHandle(const CurlHandle&) = delete;
    CurlHandle& operator=(const CurlHandle&) = delete;

    std::shared_ptr<CurlBlob> createBlob(const std::string& bytes) override;

    int32_t getResponseCode() const override;
    double getNameLookupTime() const override;
    double getConnectTime() const override;
    double getAppConnectTime() const override;
    double getPreTransferTime() const override;
    double getStartTransferTime() const override;
    double getTotalTime() const override;
    Microseconds getNameLookupTimeUs() const override;
    Microseconds getConnectTimeUs() const override;
    Microseconds getAppConnectTimeUs() const override;
    Microseconds getPreTransferTimeUs() const override;
    Microseconds getStartTransferTimeUs() const override;
    Microseconds getTotalTimeUs() const override;
    std::string getPrimaryIp() const override;
    std::string getEffectiveUrl() const override;
    std::string getRedirectUrl() const override;
    long getOsErrno() const override;
    std::string getErrorMessage() const override;
    CURL* getNativeHandle() const override;

    bool init() override;
    void reset() override;
    Result perform() override;

    Result setHttpProxyTunnel(bool enabled) override;
    Result setAllowedProtocols(const std::vector<Protocol>& protocols) override;
    Result setUrl(const std::string& url) override;
    Result setUserAgent(const std::string& userAgent) override;
    Result setAcceptEncoding(const std::string& encoding) override;
    Result setCookieFile(const std::string& path) override;
    Result setHeaders(const std::vector<std::string>& lines) override;
    Result setFollowLocation(bool follow) override;
    Result setHsts(HstsMode mode) override;
    Result setMethod(HttpMethod method) override;
    Result setBody(HttpMethod method, const std::string& body) override;
    Result setBodyStream(HttpMethod method, DataFunction read, void* userdata, uint64_t size) override;
    Result setMimePost(const Fields& fields, const Fields& files) override;
    Result setHttpAuth(AuthType type, const std::string& user, const std::string& password) override;
    Result setHttpVersion(HttpVersion version) override;
    Result setUnrestrictedAuth(bool enabled) override;
    Result setFailOnError(bool enabled) override;
    Result setFtpPort(const std::string& port) override;
    Result setUsernameAndPassword(const std::string& user, const std::string& password) override;
    Result setUpload(DataFunction read, void* userdata, uint64_t size) override;
    Result setDnsCacheTimeout(const Seconds& timeout) override;
    Result setResolve(const std::string& host, const std::vector<std::string>& addresses,
                      uint16_t port) override;
    Result setIpResolve(IpResolve resolve) override;
    Result setInterface(const std::string& name) override;
    Result setConnectionReuse(bool reuse) override;
    Result setTimeout(const Seconds& timeout) override;
    Result setTimeoutMs(const Milliseconds& timeout) override;
    Result setProxy(const std::string& proxy) override;
    Result setProxyAuth(AuthType type, const std::string& user, const std::string& password) override;
    Result setSslVersion(SslVersion version) override;
    Result setSslCipherList(const std::string& ciphers) override;
    Result setSslVerifyPeer(bool verify) override;
    Result setSslVerifyHost(bool verify) override;
    Result setCaInfoBlob(const std::shared_ptr<CurlBlob>& blob) override;
    Result setClientCertificate(const std::shared_ptr<CurlBlob>& key,
                                const std::shared_ptr<CurlBlob>& certificate) override;
    Result unsupportedOption() override;
    Result setCaInfo(const std::string& path) override;
    Result setCaPath(const std::string& directory) override;
    Result setLegacyTls(const LegacyTlsOptions& options) override;
    Result setUseSsl(UseSsl mode) override;
    Result setSignalsEnabled(bool enabled) override;
    Result setDebugCallback(DebugFunction function, void* userdata) override;
    Result setReadCallback(DataFunction function, void* userdata) override;
    Result setWriteCallback(DataFunction function, void* userdata) override;
    Result setHeaderCallback(DataFunction function, void* userdata) override;
    Result setSslCtxCallback(SslContextFunction function, void* userdata) override;
    Result setOpenSocketCallback(OpenSocketFunction function, void* userdata) override;

    // CURLOPT_SSL_CTX_FUNCTION installed by setLegacyTls; `handle` is the CurlHandle. The flags are
    // read here, when a connection's OpenSSL context is built, so later setLegacyTls calls count.
    static CURLcode tlsContextCallback(CURL* curl, void* sslContext, void* handle);

private:
    using ListRelease = void (*)(curl_slist*);
    struct EasyCleanup {
        void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
    };
    struct MimeFree {
        void operator()(curl_mime* structure) const { curl_mime_free(structure); }
    };

    Result setStringOption(CURLoption option, const std::string& text);
    Result setLongOption(CURLoption option, long value);
    Result setBlobOption(CURLoption option, const std::shared_ptr<CurlBlob>& blob);
    template <typename Function>
    Result setFunctionAndData(CURLoption functionOption, Function function, CURLoption dataOption,
                              void* userdata);
    template <typename Enum>
    Result setEnumOption(CURLoption option, Enum value);
    Result setAuth(CURLoption authOption, CURLoption credentialsOption, AuthType type,
                   const std::string& user, const std::string& password);
    Result setList(CURLoption option, const std::vector<std::string>& lines);
    Result installTlsCallback();
    void registerErrorBuffer();
    void releaseOwnedLists();

    std::vector<std::pair<ListRelease, curl_slist*>> ownedLists;
    std::unique_ptr<curl_mime, MimeFree> mime;
    char errorBuffer[CURL_ERROR_SIZE];
    LegacyTlsOptions tlsOptions;
    bool tlsCallbackInstalled = false;
    std::unique_ptr<CURL, EasyCleanup> easyHandle;
    std::map<CURLoption, std::string> stringOptions;
    std::map<CURLoption, std::shared_ptr<CurlBlob>> blobOptions;
    std::unique_ptr<UploadBody> uploadBody;
};

}  // namespace vx::shared::agents::measurements::http
