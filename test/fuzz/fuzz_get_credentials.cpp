// libFuzzer target: every input is the raw body of one getCredentials request. The handler must
// answer once with a known status and a compact JSON document, or (for a non-text id) throw
// without answering; a vault-service double stands in for the vault.
#include <json/reader.h>
#include <json/value.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "FakeRequest.h"
#include "handlers/GetCredentialsHandler.h"
#include "http_server/IHttpResponse.h"
#include "services/IVaultService.h"
#include "services/VaultExceptions.h"

namespace {

namespace service = vx::rc::vault_accessor::service;

// A failed invariant is a crash, so libFuzzer keeps the input.
void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Each id is its own value; an id starting with "!" picks a vault failure by its next byte.
class EchoVaultService : public service::IVaultService {
public:
    service::Credentials getCredentials(service::VaultType, const std::string&, const Json::Value&,
                                        const std::vector<std::string>& secretIds) const override {
        service::Credentials credentials;
        for (const auto& id : secretIds) {
            if (id.size() >= 2 && id[0] == '!') {
                switch (id[1] % 6) {
                    case 0: throw service::VaultServiceException();
                    case 1: throw service::VaultTypeNotSupportedException();
                    case 2: throw service::VaultCredentialNotFoundException(id);
                    case 3: throw service::VaultAuthenticationException();
                    case 4: throw service::VaultInaccessibleException();
                    default: throw std::runtime_error("double failure");
                }
            }
            if (credentials.count(id) == 0) {  // the first read of a repeated id stays
                credentials[id].append(id);
            }
        }
        return credentials;
    }
};

bool isAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

void checkAnswer(int status, const std::string& body) {
    static const std::set<int> known = {200, 400, 401, 404, 500, 502};
    require(known.count(status) == 1, "known status");
    require(!body.empty() && body.back() == '\n', "body ends with a line feed");
    require(body.find('\n') == body.size() - 1, "compact body");
    Json::Value document;
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    std::string errors;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    require(reader->parse(body.data(), body.data() + body.size(), &document, &errors), "body is JSON");
    if (status == 200) {
        require(document.isNull() || (document.isObject() && document.size() == 1 && document.isMember("data")), "success holds only data");
        if (document.isObject()) {
            for (const auto& id : document["data"].getMemberNames()) {
                if (!isAscii(id)) {
                    continue;  // the JSON writer replaces broken UTF-8, cut and whole ids alike
                }
                // The double echoes the id; the answer keeps the part before a NUL.
                require(document["data"][id].asString() == std::string(id.c_str()), "value of each id");
            }
        }
    } else {
        require(document.isObject() && document.size() == 1 && document["error"]["message"].isString(), "failure holds only error.message");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto handler =
        std::make_shared<vx::rc::vault_accessor::handlers::GetCredentialsHandler>(std::make_shared<EchoVaultService>());
    const vx::test::FakeRequest request(std::string(reinterpret_cast<const char*>(data), size));
    int calls = 0;
    try {
        handler->execute(request, [&calls](const vx::rc::IHttpResponse& response) {
            ++calls;
            checkAnswer(response.getStatusCode(), response.getBody());
        });
    } catch (const std::exception&) {
        require(calls == 0, "no answer after a throw");  // a non-text id leaves without an answer
        return 0;
    }
    require(calls == 1, "exactly one answer");
    return 0;
}
