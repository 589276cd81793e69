#include "handlers/HttpResponse.h"

#include <json/value.h>
#include <json/writer.h>
#include <openssl/crypto.h>

namespace vx::rc::vault_accessor::handlers {

namespace {

// Wipes the secrets' JSON copies before the document's memory goes back to the heap.
void wipeStrings(Json::Value& value) {
    if (value.isString()) {
        const char* begin = nullptr;
        const char* end = nullptr;
        if (value.getString(&begin, &end)) {
            OPENSSL_cleanse(const_cast<char*>(begin), static_cast<size_t>(end - begin));
        }
        return;
    }
    for (auto& member : value) {
        wipeStrings(member);
    }
}

}  // namespace

HttpResponse::HttpResponse(int32_t statusCode, const std::string& message, const std::string& secretId,
                           const service::Credentials& credentials)
    : statusCode_(statusCode), headers_{{"Content-Type", "application/json"}} {
    Json::Value root;
    if (statusCode == 200) {
        for (const auto& [id, value] : credentials) {
            // Read as a C string: bytes after an embedded NUL are not part of the answer.
            root["data"][id] = Json::Value(value.c_str());
        }
    } else {
        root["error"]["message"] = message;
        if (!secretId.empty()) {
            root["error"]["secret_id"] = secretId;
        }
    }
    // FastWriter's compact output with its closing line feed is the documented body form.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    body_ = Json::FastWriter().write(root);
#pragma GCC diagnostic pop
    wipeStrings(root);
}

HttpResponse::~HttpResponse() {
    // The body of a 200 answer holds secrets.
    OPENSSL_cleanse(body_.data(), body_.size());
}

}  // namespace vx::rc::vault_accessor::handlers
