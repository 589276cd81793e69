#include "clients/ConjurVaultClient.h"

#include <openssl/crypto.h>

#include <new>
#include <utility>
#include <vector>

#include "vx/util/Logging.h"

namespace vx::rc::vault_accessor::clients {

namespace {

using shared::agents::measurements::http::ICurlHandle;

VX_DEFINE_LOGGER(logger, "vx.vault.clients.ConjurVaultClient")

constexpr char authorizationPrefix[] = "Authorization: Token token=\"";

// Transfer codes that mean the vault could not be reached at all.
bool isUnreachable(ICurlHandle::Result result) {
    return result == CURLE_COULDNT_RESOLVE_HOST || result == CURLE_COULDNT_CONNECT;
}

// Wipes the plain-string copies of a header line once the handle has taken its own.
class WipedLines {
public:
    explicit WipedLines(std::vector<std::string> lines) : lines_(std::move(lines)) {}
    WipedLines(const WipedLines&) = delete;
    WipedLines& operator=(const WipedLines&) = delete;
    ~WipedLines() {
        for (auto& line : lines_) {
            OPENSSL_cleanse(line.data(), line.size());
        }
    }
    const std::vector<std::string>& get() const { return lines_; }

private:
    std::vector<std::string> lines_;
};

// Only plain HTTP(S) may be reached, and never for longer than the bound: the URL comes
// from a local caller and must not turn into a file read or a thread held forever.
ICurlHandle::Result restrictExchange(ICurlHandle& handle, std::chrono::seconds timeout, std::string& what) {
    auto result = handle.setAllowedProtocols({ICurlHandle::Protocol::HTTPS, ICurlHandle::Protocol::HTTP});
    if (result != CURLE_OK) {
        what = "Failed to set allowed protocols";
        return result;
    }
    result = handle.setTimeout(timeout.count());
    if (result != CURLE_OK) {
        what = "Failed to set timeout";
    }
    return result;
}

}  // namespace

ConjurVaultClient::ConjurVaultClient(CurlHandleFactoryPtr handleFactory, const std::string& vaultUrl,
                                     const std::string& account, std::chrono::seconds exchangeTimeout)
    : handleFactory_(std::move(handleFactory)),
      baseUrl_(vaultUrl),
      account_(account),
      exchangeTimeout_(exchangeTimeout) {
    if (!baseUrl_.empty() && baseUrl_.back() == '/') {
        baseUrl_.pop_back();
    }
}

ConjurVaultClient::~ConjurVaultClient() = default;

std::string ConjurVaultClient::loginUrl(const std::string& hostId) const {
    return baseUrl_ + "/authn/" + account_ + "/host%2F" + urlEncode(hostId) + "/authenticate";
}

std::string ConjurVaultClient::secretUrl(const std::string& id) const {
    return baseUrl_ + "/secrets/" + account_ + "/variable/" + urlEncode(id);
}

CredentialResponseError ConjurVaultClient::authenticate(const std::string& hostId, const std::string& apiKey) {
    token_ = SecureBuffer();
    const std::string url = loginUrl(hostId);

    auto handle = handleFactory_->createHandle();
    if (!handle) {
        VX_LOG_ERROR(logger(), "Failed to create handle");
        return CredentialResponseError::Failure;
    }
    handle->init();

    std::string what;
    if (restrictExchange(*handle, exchangeTimeout_, what) != CURLE_OK) {
        VX_LOG_ERROR(logger(), what << ": " << handle->getErrorMessage());
        return CredentialResponseError::Failure;
    }
    if (handle->setUrl(url) != CURLE_OK) {
        VX_LOG_ERROR(logger(), "Failed to set URL: " << handle->getErrorMessage());
        return CredentialResponseError::Failure;
    }
    if (handle->setBody(ICurlHandle::HttpMethod::POST, apiKey) != CURLE_OK) {
        VX_LOG_ERROR(logger(), "Failed to set post body: " << handle->getErrorMessage());
        return CredentialResponseError::Failure;
    }
    // base64 makes Conjur answer with the token ready for the Authorization header.
    if (handle->setHeaders({"Accept-Encoding: base64", "Content-Type: application/x-www-form-urlencoded"}) !=
        CURLE_OK) {
        VX_LOG_ERROR(logger(), "Failed to set headers: " << handle->getErrorMessage());
        return CredentialResponseError::Failure;
    }
    if (handle->setWriteCallback(&ConjurVaultClient::writeToSecureBuffer, &token_) != CURLE_OK) {
        VX_LOG_ERROR(logger(), "Failed to set write callback: " << handle->getErrorMessage());
        return CredentialResponseError::Failure;
    }

    VX_LOG_DEBUG(logger(), "Authenticating with Conjur at: " << url);
    const auto result = handle->perform();
    if (result != CURLE_OK) {
        VX_LOG_ERROR(logger(), "Failed to perform transfer: " << handle->getErrorMessage());
        return isUnreachable(result) ? CredentialResponseError::Inaccessible : CredentialResponseError::Failure;
    }
    const auto status = handle->getResponseCode();
    if (status != 200) {
        VX_LOG_ERROR(logger(), "Authentication failed with response code: " << status);
        return CredentialResponseError::Unauthorized;
    }
    VX_LOG_DEBUG(logger(), "Authentication successful");
    return CredentialResponseError::Success;
}

CredentialResponse ConjurVaultClient::getCredential(const std::string& id) {
    if (token_.empty()) {
        return {CredentialResponseError::NotAuthenticated, "Token is not set. Please authenticate first."};
    }
    const std::string url = secretUrl(id);

    auto handle = handleFactory_->createHandle();
    if (!handle) {
        VX_LOG_ERROR(logger(), "Failed to create handle");
        return {CredentialResponseError::Failure, "Failed to create handle"};
    }
    handle->init();

    std::string what;
    if (restrictExchange(*handle, exchangeTimeout_, what) != CURLE_OK) {
        const auto detail = handle->getErrorMessage();
        VX_LOG_ERROR(logger(), what << ": " << detail);
        return {CredentialResponseError::Failure, what + "(" + detail + ")"};
    }
    if (handle->setUrl(url) != CURLE_OK) {
        const auto detail = handle->getErrorMessage();
        VX_LOG_ERROR(logger(), "Failed to set URL: " << detail);
        return {CredentialResponseError::Failure, "Failed to set URL(" + detail + ")"};
    }
    VX_LOG_DEBUG(logger(), "Retrieving secret from Conjur at: " << url);

    SecureBuffer value;
    SecureBuffer authorization;
    authorization.append(authorizationPrefix, sizeof(authorizationPrefix) - 1);
    authorization.append(token_.view());
    authorization.append("\"", 1);
    {
        const WipedLines lines({std::string(authorization.view())});
        if (handle->setHeaders(lines.get()) != CURLE_OK) {
            const auto detail = handle->getErrorMessage();
            VX_LOG_ERROR(logger(), "Failed to set headers: " << detail);
            return {CredentialResponseError::Failure, "Failed to set headers(" + detail + ")"};
        }
    }
    if (handle->setWriteCallback(&ConjurVaultClient::writeToSecureBuffer, &value) != CURLE_OK) {
        const auto detail = handle->getErrorMessage();
        VX_LOG_ERROR(logger(), "Failed to set write callback: " << detail);
        return {CredentialResponseError::Failure, "Failed to set write callback(" + detail + ")"};
    }

    const auto result = handle->perform();
    if (result != CURLE_OK) {
        const auto detail = handle->getErrorMessage();
        VX_LOG_ERROR(logger(), "Failed to perform transfer: " << detail);
        if (isUnreachable(result)) {
            return {CredentialResponseError::Inaccessible, "Curl couldn't connect (" + detail + ")"};
        }
        return {CredentialResponseError::Failure, "Failed to perform transfer(" + detail + ")"};
    }

    const auto status = handle->getResponseCode();
    switch (status) {
        case 200:
            VX_LOG_DEBUG(logger(), "Successfully retrieved secret: " << id);
            return CredentialResponse(std::move(value));
        case 401:
            return {CredentialResponseError::Unauthorized, "Authentication failed"};
        case 403:
            return {CredentialResponseError::Unauthorized, "Token is not authorized to access the secret"};
        case 404:
            return {CredentialResponseError::NotFound, "Secret not found"};
        case 422:
            // Conjur's answer for an invalid parameter; read as a secret without value.
            return CredentialResponse(SecureBuffer());
        case 502:
            return {CredentialResponseError::Inaccessible, "Vault is inaccessible"};
        default:
            return {CredentialResponseError::Failure,
                    "Failed to retrieve secret, response code: " + std::to_string(status)};
    }
}

std::string ConjurVaultClient::urlEncode(const std::string& text) {
    static constexpr char hexDigits[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size() * 3);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                                byte == '~';
        if (unreserved) {
            encoded.push_back(c);
        } else {
            encoded.push_back('%');
            encoded.push_back(hexDigits[byte >> 4]);
            encoded.push_back(hexDigits[byte & 0x0F]);
        }
    }
    return encoded;
}

size_t ConjurVaultClient::writeToSecureBuffer(char* data, size_t size, size_t count, void* userdata) {
    const size_t bytes = size * count;
    auto* buffer = static_cast<SecureBuffer*>(userdata);
    if (bytes > maxAnswerBytes - buffer->size()) {
        return 0;  // fails the transfer (CURLE_WRITE_ERROR)
    }
    try {
        buffer->append(data, bytes);
    } catch (const std::bad_alloc&) {
        return 0;  // an exception must not cross libcurl's C frames; this fails the transfer
    }
    return bytes;
}

}  // namespace vx::rc::vault_accessor::clients
