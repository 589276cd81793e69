#include "handlers/GetCredentialsHandler.h"

#include <json/reader.h>
#include <json/value.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "handlers/HttpResponse.h"
#include "services/VaultExceptions.h"
#include "vx/util/Logging.h"

namespace vx::rc::vault_accessor::handlers {

namespace {

using service::Credentials;
using service::VaultType;

VX_DEFINE_LOGGER(logger, "vx.vault.handlers.GetCredentials")

void answer(const HttpServerMethod::ResponseCallback& callback, int32_t status, const std::string& message,
            const std::string& secretId = std::string()) {
    callback(HttpResponse(status, message, secretId, Credentials()));
}

bool parseBody(const std::string& body, Json::Value& root) {
    // The classic reader keeps the accepted input exactly as callers have always sent it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Json::Reader reader;
    return reader.parse(body, root, true);
#pragma GCC diagnostic pop
}

bool hasMember(const Json::Value& root, const char* name, bool (Json::Value::*isType)() const) {
    return root.isMember(name) && (root[name].*isType)();
}

bool isValidRequest(const Json::Value& root) {
    return root.isObject() && hasMember(root, "vaultType", &Json::Value::isString) &&
           hasMember(root, "vaultUrl", &Json::Value::isString) &&
           hasMember(root, "vaultAuthentication", &Json::Value::isObject) &&
           hasMember(root, "vaultCredentials", &Json::Value::isArray);
}

VaultType toVaultType(const std::string& text) {
    if (text == "conjur") {
        return VaultType::Conjur;
    }
    throw std::invalid_argument("Unknown vault type: " + text);
}

// Scalars convert to their text; a nested array or object has no text and makes the request
// invalid rather than escaping as an unanswered conversion error.
bool readSecretIds(const Json::Value& list, std::vector<std::string>& ids) {
    ids.reserve(list.size());
    for (const auto& element : list) {
        if (element.isArray() || element.isObject()) {
            return false;
        }
        ids.push_back(element.asString());
    }
    return true;
}

}  // namespace

GetCredentialsHandler::GetCredentialsHandler(std::shared_ptr<service::IVaultService> vaultService)
    : vaultService_(std::move(vaultService)) {}

GetCredentialsHandler::~GetCredentialsHandler() = default;

void GetCredentialsHandler::execute(const IHttpRequest& request, ResponseCallback callback) {
    Json::Value root;
    if (!parseBody(request.getBody(), root)) {
        answer(callback, 400, "Invalid JSON request body");
        return;
    }
    if (!isValidRequest(root)) {
        answer(callback, 400, "Invalid request data");
        return;
    }

    const std::string typeText = root["vaultType"].asString();
    VaultType vaultType;
    try {
        vaultType = toVaultType(typeText);
    } catch (const std::invalid_argument& error) {
        VX_LOG_ERROR(logger(), "Vault type not supported: " << typeText);
        answer(callback, 400, error.what());
        return;
    }

    const std::string url = root["vaultUrl"].asString();
    const Json::Value authentication = root["vaultAuthentication"];
    std::vector<std::string> ids;
    if (!readSecretIds(root["vaultCredentials"], ids)) {
        answer(callback, 400, "Invalid request data");
        return;
    }

    // Each catch records its outcome; the answer itself goes out after the guarded region.
    int32_t status = 500;
    std::string message = "Internal server error";
    std::string secretId;
    try {
        const Credentials credentials = vaultService_->getCredentials(vaultType, url, authentication, ids);
        callback(HttpResponse(200, std::string(), std::string(), credentials));
        return;
    } catch (const service::VaultInaccessibleException&) {
        VX_LOG_ERROR(logger(), "Vault inaccessible, URL: " << url);
        status = 502;
        message = "Vault is inaccessible";
    } catch (const service::VaultAuthenticationException&) {
        VX_LOG_ERROR(logger(), "Vault Authentication failed, URL: " << url);
        status = 401;
        message = "Vault authentication failed";
    } catch (const service::VaultCredentialNotFoundException& error) {
        VX_LOG_ERROR(logger(), "Vault Credential not found: " << error.getSecretId());
        status = 404;
        secretId = error.getSecretId();
        message = "Vault credential not found: " + secretId;
    } catch (const service::VaultTypeNotSupportedException&) {
        VX_LOG_ERROR(logger(), "Vault type not supported, URL: " << url << ", type: "
                                                                 << static_cast<int32_t>(vaultType));
    } catch (const service::VaultServiceException&) {
        VX_LOG_ERROR(logger(), "Vault Service exception, URL: " << url);
    } catch (const std::exception& error) {
        VX_LOG_ERROR(logger(), "Internal Server Error: " << error.what() << ", URL: " << url);
    }
    answer(callback, status, message, secretId);
}

}  // namespace vx::rc::vault_accessor::handlers
