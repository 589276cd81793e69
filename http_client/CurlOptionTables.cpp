#include "http_client/CurlOptionTables.h"

#include <map>
#include <type_traits>

namespace vx::shared::agents::measurements::http::curl_tables {
namespace {

using Handle = ICurlHandle;

// Looks an enumerator up by its underlying number, so values cast from outside the enumeration are
// rejected rather than passed on.
template <typename Enum, typename Value>
std::optional<Value> lookUp(const std::map<std::underlying_type_t<Enum>, Value>& table, Enum value) {
    const auto found = table.find(static_cast<std::underlying_type_t<Enum>>(value));
    if (found == table.end()) {
        return std::nullopt;
    }
    return found->second;
}

template <typename Enum, typename Value>
using Table = std::map<std::underlying_type_t<Enum>, Value>;

}  // namespace

std::optional<std::string> customRequestOf(Handle::HttpMethod method) {
    static const Table<Handle::HttpMethod, std::string> table{
        {0, "DELETE"}, {1, ""}, {2, "PATCH"}, {3, ""}, {4, ""}};
    return lookUp(table, method);
}

std::optional<std::string> schemeOf(Handle::Protocol protocol) {
    static const Table<Handle::Protocol, std::string> table{
        {0, "http"}, {1, "https"}, {2, "ftp"}, {3, "ftps"}, {4, "scp"}, {5, "sftp"}};
    return lookUp(table, protocol);
}

std::optional<long> curlValueOf(Handle::HstsMode mode) {
    static const Table<Handle::HstsMode, long> table{{0, 0L}, {1, CURLHSTS_ENABLE}};
    return lookUp(table, mode);
}

std::optional<long> curlValueOf(Handle::HttpVersion version) {
    static const Table<Handle::HttpVersion, long> table{
        {0, CURL_HTTP_VERSION_1_0}, {1, CURL_HTTP_VERSION_1_1}, {2, CURL_HTTP_VERSION_2_0}};
    return lookUp(table, version);
}

std::optional<long> curlValueOf(Handle::AuthType type) {
    static const Table<Handle::AuthType, long> table{{0, static_cast<long>(CURLAUTH_NONE)},
                                                     {1, static_cast<long>(CURLAUTH_BASIC)},
                                                     {2, static_cast<long>(CURLAUTH_DIGEST)},
                                                     {3, static_cast<long>(CURLAUTH_NEGOTIATE)},
                                                     {4, static_cast<long>(CURLAUTH_NTLM)}};
    return lookUp(table, type);
}

std::optional<long> curlValueOf(Handle::IpResolve resolve) {
    static const Table<Handle::IpResolve, long> table{
        {0, CURL_IPRESOLVE_WHATEVER}, {1, CURL_IPRESOLVE_V4}, {2, CURL_IPRESOLVE_V6}};
    return lookUp(table, resolve);
}

// The numbering is the handle's own: SSLv3 is 0 but means libcurl's 3.
std::optional<long> curlValueOf(Handle::SslVersion version) {
    static const Table<Handle::SslVersion, long> table{
        {-1, CURL_SSLVERSION_DEFAULT}, {0, CURL_SSLVERSION_SSLv3},   {1, CURL_SSLVERSION_TLSv1},
        {2, CURL_SSLVERSION_TLSv1_0},  {3, CURL_SSLVERSION_TLSv1_1}, {4, CURL_SSLVERSION_TLSv1_2},
        {5, CURL_SSLVERSION_TLSv1_3}};
    return lookUp(table, version);
}

std::optional<long> curlValueOf(Handle::UseSsl mode) {
    static const Table<Handle::UseSsl, long> table{
        {0, CURLUSESSL_NONE}, {1, CURLUSESSL_TRY}, {2, CURLUSESSL_CONTROL}, {3, CURLUSESSL_ALL}};
    return lookUp(table, mode);
}

}  // namespace vx::shared::agents::measurements::http::curl_tables
