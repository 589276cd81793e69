#pragma once

#include <optional>
#include <string>

#include "http_client/ICurlHandle.h"

// Translation of the handle's enumerations into libcurl values. Each table is built once, on first
// use, and read-only afterwards; a value outside a table gives std::nullopt.
namespace vx::shared::agents::measurements::http::curl_tables {

// The text for CURLOPT_CUSTOMREQUEST, or "" for methods that other options select (GET, POST, PUT).
std::optional<std::string> customRequestOf(ICurlHandle::HttpMethod method);
std::optional<std::string> schemeOf(ICurlHandle::Protocol protocol);
std::optional<long> curlValueOf(ICurlHandle::HstsMode mode);
std::optional<long> curlValueOf(ICurlHandle::HttpVersion version);
std::optional<long> curlValueOf(ICurlHandle::AuthType type);
std::optional<long> curlValueOf(ICurlHandle::IpResolve resolve);
std::optional<long> curlValueOf(ICurlHandle::SslVersion version);
std::optional<long> curlValueOf(ICurlHandle::UseSsl mode);

}  // namespace vx::shared::agents::measurements::http::curl_tables
