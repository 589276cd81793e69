#pragma once

#include <memory>

#include "http_server/HttpServerMethod.h"
#include "services/IVaultService.h"

namespace vx::rc::vault_accessor::handlers {

// The getCredentials method: validates the JSON request, asks the vault service once and
// answers every outcome with a status and a JSON document. Stateless; safe for concurrent calls.
class GetCredentialsHandler : public HttpServerMethod {
public:
    explicit GetCredentialsHandler(std::shared_ptr<service::IVaultService> vaultService);
    ~GetCredentialsHandler() override;

    void execute(const IHttpRequest& request, ResponseCallback callback) override;

private:
    std::shared_ptr<service::IVaultService> vaultService_;
};

}  // namespace vx::rc::vault_accessor::handlers
