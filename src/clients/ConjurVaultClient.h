#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "clients/IConjurVaultClient.h"
#include "clients/SecureBuffer.h"
#include "http_client/ICurlHandleFactory.h"

namespace vx::rc::vault_accessor::clients {

// Speaks Conjur's REST interface: a host login for a token, then secret reads with it.
// Every exchange uses a fresh handle; failures come back as codes, never as exceptions.
class ConjurVaultClient : public IConjurVaultClient {
public:
    using CurlHandleFactoryPtr = std::shared_ptr<shared::agents::measurements::http::ICurlHandleFactory>;

    // Upper bound of one whole exchange, so a stalled vault cannot hold a server thread.
    static constexpr std::chrono::seconds defaultExchangeTimeout{60};
    // Largest answer body kept (token or secret). SecureBuffer grows without spare capacity,
    // so a vault sending megabytes would pin a server thread in copies for the whole bound.
    static constexpr std::size_t maxAnswerBytes = std::size_t{4} << 20;

    ConjurVaultClient(CurlHandleFactoryPtr handleFactory, const std::string& vaultUrl, const std::string& account,
                      std::chrono::seconds exchangeTimeout = defaultExchangeTimeout);
    ~ConjurVaultClient() override;

    CredentialResponseError authenticate(const std::string& hostId, const std::string& apiKey) override;
    CredentialResponse getCredential(const std::string& id) override;

    // Percent-encodes one path segment; only RFC 3986 unreserved bytes stay.
    static std::string urlEncode(const std::string& text);
    // libcurl write function: appends the piece to the SecureBuffer behind userdata.
    static size_t writeToSecureBuffer(char* data, size_t size, size_t count, void* userdata);

    std::string loginUrl(const std::string& hostId) const;
    std::string secretUrl(const std::string& id) const;

private:
    CurlHandleFactoryPtr handleFactory_;
    std::string baseUrl_;
    std::string account_;
    SecureBuffer token_;
    std::chrono::seconds exchangeTimeout_;
};

}  // namespace vx::rc::vault_accessor::clients
