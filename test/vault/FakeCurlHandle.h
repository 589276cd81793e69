#pragma once

#include <deque>
#include <string>
#include <vector>

#include "http_client/ICurlHandleFactory.h"

namespace vx::test {

using shared::agents::measurements::http::CurlHandlePtr;
using shared::agents::measurements::http::ICurlHandle;
using shared::agents::measurements::http::ICurlHandleFactory;

// What the client set on one handle.
struct Exchange {
    bool initialised = false;
    std::string url;
    bool hasBody = false;
    ICurlHandle::HttpMethod method = ICurlHandle::HttpMethod::GET;
    std::string body;
    std::vector<std::string> headers;
    std::vector<ICurlHandle::Protocol> protocols;
    int64_t timeoutSeconds = -1;
    bool performed = false;
};

// How one handle behaves.
struct Reply {
    ICurlHandle::Result performResult = CURLE_OK;
    int32_t status = 200;
    std::vector<std::string> bodyPieces;
    std::string failingSetter;  // "setUrl", "setBody", "setHeaders", "setWriteCallback", ...
    std::string errorMessage = "detail of the failure";
};

class FakeCurlHandle : public ICurlHandle {
public:
    FakeCurlHandle(Reply reply, Exchange& record) : reply_(std::move(reply)), record_(record) {}

    bool init() override {
        record_.initialised = true;
        return true;
    }
    Result setAllowedProtocols(const std::vector<Protocol>& protocols) override {
        record_.protocols = protocols;
        return outcome("setAllowedProtocols");
    }
    Result setTimeout(const Seconds& timeout) override {
        record_.timeoutSeconds = timeout;
        return outcome("setTimeout");
    }
    Result setUrl(const std::string& url) override {
        record_.url = url;
        return outcome("setUrl");
    }
    Result setBody(HttpMethod method, const std::string& body) override {
        record_.hasBody = true;
        record_.method = method;
        record_.body = body;
        return outcome("setBody");
    }
    Result setHeaders(const std::vector<std::string>& lines) override {
        record_.headers = lines;
        return outcome("setHeaders");
    }
    Result setWriteCallback(DataFunction function, void* userdata) override {
        write_ = function;
        writeData_ = userdata;
        return outcome("setWriteCallback");
    }
    Result perform() override {
        record_.performed = true;
        for (auto& piece : reply_.bodyPieces) {
            if (write_ != nullptr) {
                write_(piece.data(), 1, piece.size(), writeData_);
            }
        }
        return reply_.performResult;
    }
    int32_t getResponseCode() const override { return reply_.status; }
    std::string getErrorMessage() const override { return reply_.errorMessage; }
    std::shared_ptr<CurlBlob> createBlob(const std::string& /*unused*/) override { return nullptr; }

    double getNameLookupTime() const override { return 0; }
    double getConnectTime() const override { return 0; }
    double getAppConnectTime() const override { return 0; }
    double getPreTransferTime() const override { return 0; }
    double getStartTransferTime() const override { return 0; }
    double getTotalTime() const override { return 0; }
    Microseconds getNameLookupTimeUs() const override { return 0; }
    Microseconds getConnectTimeUs() const override { return 0; }
    Microseconds getAppConnectTimeUs() const override { return 0; }
    Microseconds getPreTransferTimeUs() const override { return 0; }
    Microseconds getStartTransferTimeUs() const override { return 0; }
    Microseconds getTotalTimeUs() const override { return 0; }
    std::string getPrimaryIp() const override { return {}; }
    std::string getEffectiveUrl() const override { return {}; }
    std::string getRedirectUrl() const override { return {}; }
    long getOsErrno() const override { return 0; }
    CURL* getNativeHandle() const override { return nullptr; }
    void reset() override {  }
    Result setHttpProxyTunnel(bool /*unused*/) override { return 0; }
    Result setUserAgent(const std::string& /*unused*/) override { return 0; }
    Result setAcceptEncoding(const std::string& /*unused*/) override { return 0; }
    Result setCookieFile(const std::string& /*unused*/) override { return 0; }
    Result setFollowLocation(bool /*unused*/) override { return 0; }
    Result setHsts(HstsMode /*unused*/) override { return 0; }
    Result setMethod(HttpMethod /*unused*/) override { return 0; }
    Result setBodyStream(HttpMethod /*unused*/, DataFunction /*unused*/, void* /*unused*/, uint64_t /*unused*/) override { return 0; }
    Result setMimePost(const Fields& /*unused*/, const Fields& /*unused*/) override { return 0; }
    Result setHttpAuth(AuthType /*unused*/, const std::string& /*unused*/, const std::string& /*unused*/) override { return 0; }
    Result setHttpVersion(HttpVersion /*unused*/) override { return 0; }
    Result setUnrestrictedAuth(bool /*unused*/) override { return 0; }
    Result setFailOnError(bool /*unused*/) override { return 0; }
    Result setFtpPort(const std::string& /*unused*/) override { return 0; }
    Result setUsernameAndPassword(const std::string& /*unused*/, const std::string& /*unused*/) override { return 0; }
    Result setUpload(DataFunction /*unused*/, void* /*unused*/, uint64_t /*unused*/) override { return 0; }
    Result setDnsCacheTimeout(const Seconds& /*unused*/) override { return 0; }
    Result setResolve(const std::string& /*unused*/, const std::vector<std::string>& /*unused*/, uint16_t /*unused*/) override { return 0; }
    Result setIpResolve(IpResolve /*unused*/) override { return 0; }
    Result setInterface(const std::string& /*unused*/) override { return 0; }
    Result setConnectionReuse(bool /*unused*/) override { return 0; }
    Result setTimeoutMs(const Milliseconds& /*unused*/) override { return 0; }
    Result setProxy(const std::string& /*unused*/) override { return 0; }
    Result setProxyAuth(AuthType /*unused*/, const std::string& /*unused*/, const std::string& /*unused*/) override { return 0; }
    Result setSslVersion(SslVersion /*unused*/) override { return 0; }
    Result setSslCipherList(const std::string& /*unused*/) override { return 0; }
    Result setSslVerifyPeer(bool /*unused*/) override { return 0; }
    Result setSslVerifyHost(bool /*unused*/) override { return 0; }
    Result setCaInfoBlob(const std::shared_ptr<CurlBlob>& /*unused*/) override { return 0; }
    Result setClientCertificate(const std::shared_ptr<CurlBlob>& /*unused*/, const std::shared_ptr<CurlBlob>& /*unused*/) override { return 0; }
    Result unsupportedOption() override { return 0; }
    Result setCaInfo(const std::string& /*unused*/) override { return 0; }
    Result setCaPath(const std::string& /*unused*/) override { return 0; }
    Result setLegacyTls(const LegacyTlsOptions& /*unused*/) override { return 0; }
    Result setUseSsl(UseSsl /*unused*/) override { return 0; }
    Result setSignalsEnabled(bool /*unused*/) override { return 0; }
    Result setDebugCallback(DebugFunction /*unused*/, void* /*unused*/) override { return 0; }
    Result setReadCallback(DataFunction /*unused*/, void* /*unused*/) override { return 0; }
    Result setHeaderCallback(DataFunction /*unused*/, void* /*unused*/) override { return 0; }
    Result setSslCtxCallback(SslContextFunction /*unused*/, void* /*unused*/) override { return 0; }
    Result setOpenSocketCallback(OpenSocketFunction /*unused*/, void* /*unused*/) override { return 0; }

private:
    Result outcome(const char* setter) const {
        return reply_.failingSetter == setter ? CURLE_BAD_FUNCTION_ARGUMENT : CURLE_OK;
    }

    Reply reply_;
    Exchange& record_;
    DataFunction write_ = nullptr;
    void* writeData_ = nullptr;
};

// Hands out fake handles in order of the queued replies and keeps what each one saw.
class FakeCurlHandleFactory : public ICurlHandleFactory {
public:
    uint32_t globalInit() override { return 0; }
    void globalCleanup() override {}
    CurlHandlePtr createHandle() override {
        if (giveNoHandle) {
            return CurlHandlePtr(nullptr, shared::agents::measurements::http::destroyFactoryObject<ICurlHandle>);
        }
        Reply reply;
        if (!replies.empty()) {
            reply = replies.front();
            replies.pop_front();
        }
        exchanges.emplace_back();
        return CurlHandlePtr(new FakeCurlHandle(reply, exchanges.back()),
                             shared::agents::measurements::http::destroyFactoryObject<ICurlHandle>);
    }

    // The multi layer is not used by the credential path.
    shared::agents::measurements::http::CurlMultiHandlePtr createMultiHandle() override {
        return {nullptr, [](shared::agents::measurements::http::ICurlMultiHandle*) {}};
    }
    shared::agents::measurements::http::CurlMultiExecutorPtr createMultiExecutor(
        shared::agents::measurements::http::MultiEventLoopPtr /*loop*/,
        const shared::agents::measurements::http::CompletionFunction& /*onComplete*/,
        const shared::agents::measurements::http::WorkerStartFunction& /*onWorkerStart*/) override {
        return {nullptr, [](shared::agents::measurements::http::ICurlMultiExecutor*) {}};
    }

    bool giveNoHandle = false;
    std::deque<Reply> replies;
    std::deque<Exchange> exchanges;  // a deque keeps the records in place as it grows
};

}  // namespace vx::test
