#include "http_client/CurlHandle.h"

#include <openssl/ssl.h>

#include <cstring>

#include "http_client/CurlOptionTables.h"
#include "http_client/ResolveEntries.h"

namespace vx::shared::agents::measurements::http {
namespace {

// The two options that let a connection talk to servers without secure renegotiation.
constexpr uint64_t kLegacyRenegotiationOptions =
    SSL_OP_LEGACY_SERVER_CONNECT | SSL_OP_ALLOW_UNSAFE_LEGACY_RENEGOTIATION;
static_assert(kLegacyRenegotiationOptions == 0x40004, "OpenSSL changed the legacy option bits");

template <typename Value>
Value queryInfo(CURL* easy, CURLINFO info) {
    Value value{};
    if (curl_easy_getinfo(easy, info, &value) != CURLE_OK) {
        return Value{};
    }
    return value;
}

std::string queryText(CURL* easy, CURLINFO info) {
    const char* text = queryInfo<const char*>(easy, info);
    return text != nullptr ? std::string(text) : std::string();
}

}  // namespace

CurlHandle::CurlHandle() : errorBuffer{} {}

CurlHandle::~CurlHandle() {
    uploadBody.reset();
    blobOptions.clear();
    stringOptions.clear();
    easyHandle.reset();
    mime.reset();
    releaseOwnedLists();
}

std::shared_ptr<ICurlHandle::CurlBlob> CurlHandle::createBlob(const std::string& bytes) {
    return std::make_shared<CurlBlob>(bytes);
}

int32_t CurlHandle::getResponseCode() const {
    return static_cast<int32_t>(queryInfo<long>(easyHandle.get(), CURLINFO_RESPONSE_CODE));
}
double CurlHandle::getNameLookupTime() const {
    return queryInfo<double>(easyHandle.get(), CURLINFO_NAMELOOKUP_TIME);
}
double CurlHandle::getConnectTime() const {
    return queryInfo<double>(easyHandle.get(), CURLINFO_CONNECT_TIME);
}
double CurlHandle::getAppConnectTime() const {
    return queryInfo<double>(easyHandle.get(), CURLINFO_APPCONNECT_TIME);
}
double CurlHandle::getPreTransferTime() const {
    return queryInfo<double>(easyHandle.get(), CURLINFO_PRETRANSFER_TIME);
}
double CurlHandle::getStartTransferTime() const {
    return queryInfo<double>(easyHandle.get(), CURLINFO_STARTTRANSFER_TIME);
}
double CurlHandle::getTotalTime() const {
    return queryInfo<double>(easyHandle.get(), CURLINFO_TOTAL_TIME);
}
ICurlHandle::Microseconds CurlHandle::getNameLookupTimeUs() const {
    return queryInfo<curl_off_t>(easyHandle.get(), CURLINFO_NAMELOOKUP_TIME_T);
}
ICurlHandle::Microseconds CurlHandle::getConnectTimeUs() const {
    return queryInfo<curl_off_t>(easyHandle.get(), CURLINFO_CONNECT_TIME_T);
}
ICurlHandle::Microseconds CurlHandle::getAppConnectTimeUs() const {
    return queryInfo<curl_off_t>(easyHandle.get(), CURLINFO_APPCONNECT_TIME_T);
}
ICurlHandle::Microseconds CurlHandle::getPreTransferTimeUs() const {
    return queryInfo<curl_off_t>(easyHandle.get(), CURLINFO_PRETRANSFER_TIME_T);
}
ICurlHandle::Microseconds CurlHandle::getStartTransferTimeUs() const {
    return queryInfo<curl_off_t>(easyHandle.get(), CURLINFO_STARTTRANSFER_TIME_T);
}
ICurlHandle::Microseconds CurlHandle::getTotalTimeUs() const {
    return queryInfo<curl_off_t>(easyHandle.get(), CURLINFO_TOTAL_TIME_T);
}
std::string CurlHandle::getPrimaryIp() const {
    return queryText(easyHandle.get(), CURLINFO_PRIMARY_IP);
}
std::string CurlHandle::getEffectiveUrl() const {
    return queryText(easyHandle.get(), CURLINFO_EFFECTIVE_URL);
}
std::string CurlHandle::getRedirectUrl() const {
    return queryText(easyHandle.get(), CURLINFO_REDIRECT_URL);
}
long CurlHandle::getOsErrno() const {
    return queryInfo<long>(easyHandle.get(), CURLINFO_OS_ERRNO);
}

std::string CurlHandle::getErrorMessage() const {
    return std::string(errorBuffer, strnlen(errorBuffer, sizeof(errorBuffer)));
}

CURL* CurlHandle::getNativeHandle() const {
    return easyHandle.get();
}

bool CurlHandle::init() {
    // The old easy handle goes only after the new one has taken its place.
    std::unique_ptr<CURL, EasyCleanup> previous(easyHandle.release());
    easyHandle.reset(curl_easy_init());
    previous.reset();
    if (!easyHandle) {
        return false;
    }
    return curl_easy_setopt(easyHandle.get(), CURLOPT_ERRORBUFFER, errorBuffer) == CURLE_OK;
}

void CurlHandle::reset() {
    stringOptions.clear();
    blobOptions.clear();
    // libcurl 7.88 crashes on curl_easy_reset(nullptr), so a handle never initialised skips libcurl.
    if (easyHandle) {
        // curl_easy_reset (7.88) keeps a resolve list that was set but not yet used and would read
        // it at the next transfer, after the release below; detach it first.
        curl_easy_setopt(easyHandle.get(), CURLOPT_RESOLVE, static_cast<curl_slist*>(nullptr));
        curl_easy_reset(easyHandle.get());
    }
    std::memset(errorBuffer, 0, sizeof(errorBuffer));
    registerErrorBuffer();
    mime.reset();
    releaseOwnedLists();
    uploadBody.reset();
    tlsOptions = LegacyTlsOptions{};
    tlsCallbackInstalled = false;
}

ICurlHandle::Result CurlHandle::perform() {
    return curl_easy_perform(easyHandle.get());
}

ICurlHandle::Result CurlHandle::setHttpProxyTunnel(bool enabled) {
    return setLongOption(CURLOPT_HTTPPROXYTUNNEL, enabled ? 1L : 0L);
}

ICurlHandle::Result CurlHandle::setAllowedProtocols(const std::vector<Protocol>& protocols) {
    if (protocols.empty()) {
        return CURLE_OK;
    }
    std::string joined;
    for (const Protocol protocol : protocols) {
        const auto scheme = curl_tables::schemeOf(protocol);
        if (!scheme) {
            return CURLE_BAD_FUNCTION_ARGUMENT;
        }
        joined += (joined.empty() ? "" : ",") + *scheme;
    }
    return setStringOption(CURLOPT_PROTOCOLS_STR, joined);
}

ICurlHandle::Result CurlHandle::setUrl(const std::string& url) {
    return setStringOption(CURLOPT_URL, url);
}
ICurlHandle::Result CurlHandle::setUserAgent(const std::string& userAgent) {
    return setStringOption(CURLOPT_USERAGENT, userAgent);
}
ICurlHandle::Result CurlHandle::setAcceptEncoding(const std::string& encoding) {
    return setStringOption(CURLOPT_ACCEPT_ENCODING, encoding);
}
ICurlHandle::Result CurlHandle::setCookieFile(const std::string& path) {
    return setStringOption(CURLOPT_COOKIEFILE, path);
}

ICurlHandle::Result CurlHandle::setHeaders(const std::vector<std::string>& lines) {
    return setList(CURLOPT_HTTPHEADER, lines);
}

ICurlHandle::Result CurlHandle::setFollowLocation(bool follow) {
    return setLongOption(CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
}

ICurlHandle::Result CurlHandle::setHsts(HstsMode mode) {
    return setEnumOption(CURLOPT_HSTS_CTRL, mode);
}

ICurlHandle::Result CurlHandle::setMethod(HttpMethod method) {
    const auto customRequest = curl_tables::customRequestOf(method);
    if (!customRequest) {
        return CURLE_BAD_FUNCTION_ARGUMENT;
    }
    if (customRequest->empty()) {
        return CURLE_OK;  // GET, POST and PUT are selected by the body and upload options
    }
    return setStringOption(CURLOPT_CUSTOMREQUEST, *customRequest);
}

ICurlHandle::Result CurlHandle::setBody(HttpMethod method, const std::string& body) {
    if (method == HttpMethod::PUT) {
        uploadBody = std::make_unique<UploadBody>(UploadBody{body, 0});
        Result code = setUpload(readStringBody, uploadBody.get(), body.size());
        if (code == CURLE_OK) {
            code = curl_easy_setopt(easyHandle.get(), CURLOPT_SEEKFUNCTION, seekStringBody);
        }
        if (code == CURLE_OK) {
            code = curl_easy_setopt(easyHandle.get(), CURLOPT_SEEKDATA, uploadBody.get());
        }
        return code;
    }
    Result code = setMethod(method);
    if (code == CURLE_OK) {
        code = setLongOption(CURLOPT_POST, 1L);
    }
    if (code == CURLE_OK) {
        code = setStringOption(CURLOPT_POSTFIELDS, body);
    }
    if (code == CURLE_OK) {
        // An explicit length, so zero bytes inside the body are sent as they are.
        code = setLongOption(CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    }
    return code;
}

ICurlHandle::Result CurlHandle::setBodyStream(HttpMethod method, DataFunction read, void* userdata,
                                              uint64_t size) {
    if (method == HttpMethod::PUT) {
        return setUpload(read, userdata, size);
    }
    Result code = setMethod(method);
    if (code == CURLE_OK) {
        code = setLongOption(CURLOPT_POST, 1L);
    }
    if (code == CURLE_OK) {
        code = setLongOption(CURLOPT_POSTFIELDSIZE, static_cast<long>(size));
    }
    if (code == CURLE_OK) {
        code = setReadCallback(read, userdata);
    }
    return code;
}

ICurlHandle::Result CurlHandle::setMimePost(const Fields& fields, const Fields& files) {
    // Freeing the previous structure also unbinds it from the easy handle.
    mime.reset(curl_mime_init(easyHandle.get()));
    if (!mime) {
        return CURLE_FAILED_INIT;
    }
    for (const auto& [name, value] : fields) {
        curl_mimepart* part = curl_mime_addpart(mime.get());
        curl_mime_name(part, name.c_str());
        curl_mime_data(part, value.data(), value.size());
    }
    for (const auto& [name, path] : files) {
        curl_mimepart* part = curl_mime_addpart(mime.get());
        curl_mime_name(part, name.c_str());
        curl_mime_filedata(part, path.c_str());
    }
    return curl_easy_setopt(easyHandle.get(), CURLOPT_MIMEPOST, mime.get());
}

ICurlHandle::Result CurlHandle::setHttpAuth(AuthType type, const std::string& user,
                                            const std::string& password) {
    return setAuth(CURLOPT_HTTPAUTH, CURLOPT_USERPWD, type, user, password);
}

ICurlHandle::Result CurlHandle::setHttpVersion(HttpVersion version) {
    return setEnumOption(CURLOPT_HTTP_VERSION, version);
}
ICurlHandle::Result CurlHandle::setUnrestrictedAuth(bool enabled) {
    return setLongOption(CURLOPT_UNRESTRICTED_AUTH, enabled ? 1L : 0L);
}
ICurlHandle::Result CurlHandle::setFailOnError(bool enabled) {
    return setLongOption(CURLOPT_FAILONERROR, enabled ? 1L : 0L);
}
ICurlHandle::Result CurlHandle::setFtpPort(const std::string& port) {
    return setStringOption(CURLOPT_FTPPORT, port);
}

ICurlHandle::Result CurlHandle::setUsernameAndPassword(const std::string& user,
                                                       const std::string& password) {
    const Result code = setStringOption(CURLOPT_USERNAME, user);
    if (code != CURLE_OK) {
        return code;
    }
    return setStringOption(CURLOPT_PASSWORD, password);
}

ICurlHandle::Result CurlHandle::setUpload(DataFunction read, void* userdata, uint64_t size) {
    Result code = setLongOption(CURLOPT_UPLOAD, 1L);
    if (code == CURLE_OK) {
        code = setLongOption(CURLOPT_INFILESIZE, static_cast<long>(size));
    }
    if (code == CURLE_OK) {
        code = setReadCallback(read, userdata);
    }
    return code;
}

ICurlHandle::Result CurlHandle::setDnsCacheTimeout(const Seconds& timeout) {
    return setLongOption(CURLOPT_DNS_CACHE_TIMEOUT, static_cast<long>(timeout));
}

ICurlHandle::Result CurlHandle::setResolve(const std::string& host,
                                           const std::vector<std::string>& addresses, uint16_t port) {
    return setList(CURLOPT_RESOLVE, buildResolveEntries(host, addresses, port));
}

ICurlHandle::Result CurlHandle::setIpResolve(IpResolve resolve) {
    return setEnumOption(CURLOPT_IPRESOLVE, resolve);
}
ICurlHandle::Result CurlHandle::setInterface(const std::string& name) {
    return setStringOption(CURLOPT_INTERFACE, name);
}
ICurlHandle::Result CurlHandle::setConnectionReuse(bool reuse) {
    return setLongOption(CURLOPT_FORBID_REUSE, reuse ? 0L : 1L);
}
ICurlHandle::Result CurlHandle::setTimeout(const Seconds& timeout) {
    return setLongOption(CURLOPT_TIMEOUT, static_cast<long>(timeout));
}
ICurlHandle::Result CurlHandle::setTimeoutMs(const Milliseconds& timeout) {
    return setLongOption(CURLOPT_TIMEOUT_MS, static_cast<long>(timeout));
}
ICurlHandle::Result CurlHandle::setProxy(const std::string& proxy) {
    return setStringOption(CURLOPT_PROXY, proxy);
}

ICurlHandle::Result CurlHandle::setProxyAuth(AuthType type, const std::string& user,
                                             const std::string& password) {
    return setAuth(CURLOPT_PROXYAUTH, CURLOPT_PROXYUSERPWD, type, user, password);
}

ICurlHandle::Result CurlHandle::setSslVersion(SslVersion version) {
    return setEnumOption(CURLOPT_SSLVERSION, version);
}
ICurlHandle::Result CurlHandle::setSslCipherList(const std::string& ciphers) {
    return setStringOption(CURLOPT_SSL_CIPHER_LIST, ciphers);
}
ICurlHandle::Result CurlHandle::setSslVerifyPeer(bool verify) {
    return setLongOption(CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
}
ICurlHandle::Result CurlHandle::setSslVerifyHost(bool verify) {
    return setLongOption(CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
}
ICurlHandle::Result CurlHandle::setCaInfoBlob(const std::shared_ptr<CurlBlob>& blob) {
    return setBlobOption(CURLOPT_CAINFO_BLOB, blob);
}

ICurlHandle::Result CurlHandle::setClientCertificate(const std::shared_ptr<CurlBlob>& key,
                                                     const std::shared_ptr<CurlBlob>& certificate) {
    Result code = setStringOption(CURLOPT_SSLKEYTYPE, "PEM");
    if (code == CURLE_OK) {
        code = setBlobOption(CURLOPT_SSLKEY_BLOB, key);
    }
    if (code == CURLE_OK) {
        code = setStringOption(CURLOPT_SSLCERTTYPE, "PEM");
    }
    if (code == CURLE_OK) {
        code = setBlobOption(CURLOPT_SSLCERT_BLOB, certificate);
    }
    return code;
}

ICurlHandle::Result CurlHandle::unsupportedOption() {
    return CURLE_NOT_BUILT_IN;
}

ICurlHandle::Result CurlHandle::setCaInfo(const std::string& path) {
    return setStringOption(CURLOPT_CAINFO, path);
}
ICurlHandle::Result CurlHandle::setCaPath(const std::string& directory) {
    return setStringOption(CURLOPT_CAPATH, directory);
}

ICurlHandle::Result CurlHandle::setLegacyTls(const LegacyTlsOptions& options) {
    tlsOptions = options;
    return installTlsCallback();
}

ICurlHandle::Result CurlHandle::setUseSsl(UseSsl mode) {
    return setEnumOption(CURLOPT_USE_SSL, mode);
}
ICurlHandle::Result CurlHandle::setSignalsEnabled(bool enabled) {
    return setLongOption(CURLOPT_NOSIGNAL, enabled ? 0L : 1L);
}

ICurlHandle::Result CurlHandle::setDebugCallback(DebugFunction function, void* userdata) {
    Result code = setLongOption(CURLOPT_VERBOSE, 1L);
    if (code == CURLE_OK) {
        // A null stream puts libcurl back on its default, stderr.
        code = curl_easy_setopt(easyHandle.get(), CURLOPT_STDERR, static_cast<FILE*>(nullptr));
    }
    if (code == CURLE_OK) {
        code = setFunctionAndData(CURLOPT_DEBUGFUNCTION, function, CURLOPT_DEBUGDATA, userdata);
    }
    return code;
}

ICurlHandle::Result CurlHandle::setReadCallback(DataFunction function, void* userdata) {
    return setFunctionAndData(CURLOPT_READFUNCTION, function, CURLOPT_READDATA, userdata);
}
ICurlHandle::Result CurlHandle::setWriteCallback(DataFunction function, void* userdata) {
    return setFunctionAndData(CURLOPT_WRITEFUNCTION, function, CURLOPT_WRITEDATA, userdata);
}
ICurlHandle::Result CurlHandle::setHeaderCallback(DataFunction function, void* userdata) {
    return setFunctionAndData(CURLOPT_HEADERFUNCTION, function, CURLOPT_HEADERDATA, userdata);
}
ICurlHandle::Result CurlHandle::setSslCtxCallback(SslContextFunction function, void* userdata) {
    return setFunctionAndData(CURLOPT_SSL_CTX_FUNCTION, function, CURLOPT_SSL_CTX_DATA, userdata);
}
ICurlHandle::Result CurlHandle::setOpenSocketCallback(OpenSocketFunction function, void* userdata) {
    return setFunctionAndData(CURLOPT_OPENSOCKETFUNCTION, function, CURLOPT_OPENSOCKETDATA, userdata);
}

CURLcode CurlHandle::tlsContextCallback(CURL* /*curl*/, void* sslContext, void* handle) {
    if (sslContext == nullptr || handle == nullptr) {
        return CURLE_BAD_FUNCTION_ARGUMENT;
    }
    auto* context = static_cast<SSL_CTX*>(sslContext);
    const LegacyTlsOptions& options = static_cast<CurlHandle*>(handle)->tlsOptions;
    if (options.lowerSecurityLevel) {
        SSL_CTX_set_security_level(context, 0);
    }
    if (options.allowLegacyRenegotiation) {
        SSL_CTX_set_options(context, kLegacyRenegotiationOptions);
    } else {
        SSL_CTX_clear_options(context, kLegacyRenegotiationOptions);
    }
    return CURLE_OK;
}

ICurlHandle::Result CurlHandle::setStringOption(CURLoption option, const std::string& text) {
    // Stored first: libcurl keeps the pointer (and does not copy CURLOPT_POSTFIELDS).
    const std::string& stored = stringOptions[option] = text;
    return curl_easy_setopt(easyHandle.get(), option, stored.c_str());
}

ICurlHandle::Result CurlHandle::setLongOption(CURLoption option, long value) {
    return curl_easy_setopt(easyHandle.get(), option, value);
}

ICurlHandle::Result CurlHandle::setBlobOption(CURLoption option, const std::shared_ptr<CurlBlob>& blob) {
    if (!blob) {
        return CURLE_BAD_FUNCTION_ARGUMENT;
    }
    // Kept here because libcurl reads the bytes in place.
    blobOptions[option] = blob;
    return curl_easy_setopt(easyHandle.get(), option, &blob->blob);
}

template <typename Function>
ICurlHandle::Result CurlHandle::setFunctionAndData(CURLoption functionOption, Function function,
                                                   CURLoption dataOption, void* userdata) {
    const Result code = curl_easy_setopt(easyHandle.get(), functionOption, function);
    if (code != CURLE_OK) {
        return code;
    }
    return curl_easy_setopt(easyHandle.get(), dataOption, userdata);
}

template <typename Enum>
ICurlHandle::Result CurlHandle::setEnumOption(CURLoption option, Enum value) {
    const auto mapped = curl_tables::curlValueOf(value);
    if (!mapped) {
        return CURLE_BAD_FUNCTION_ARGUMENT;
    }
    return setLongOption(option, *mapped);
}

ICurlHandle::Result CurlHandle::setAuth(CURLoption authOption, CURLoption credentialsOption,
                                        AuthType type, const std::string& user,
                                        const std::string& password) {
    const auto bits = curl_tables::curlValueOf(type);
    if (!bits) {
        return CURLE_BAD_FUNCTION_ARGUMENT;
    }
    const Result code = setLongOption(authOption, *bits);
    if (code != CURLE_OK || type == AuthType::None) {
        return code;
    }
    return setStringOption(credentialsOption, user + ":" + password);
}

ICurlHandle::Result CurlHandle::setList(CURLoption option, const std::vector<std::string>& lines) {
    curl_slist* list = nullptr;
    bool complete = true;
    for (const auto& line : lines) {
        curl_slist* extended = curl_slist_append(list, line.c_str());
        if (extended == nullptr) {
            complete = false;
            break;
        }
        list = extended;
    }
    // Owned whatever libcurl says, so a rejected list is still released.
    ownedLists.emplace_back(curl_slist_free_all, list);
    if (!complete) {
        return CURLE_OUT_OF_MEMORY;
    }
    return curl_easy_setopt(easyHandle.get(), option, list);
}

ICurlHandle::Result CurlHandle::installTlsCallback() {
    if (tlsCallbackInstalled) {
        return CURLE_OK;
    }
    const Result code = setSslCtxCallback(tlsContextCallback, this);
    if (code == CURLE_OK) {
        tlsCallbackInstalled = true;
    }
    return code;
}

void CurlHandle::registerErrorBuffer() {
    if (easyHandle) {
        curl_easy_setopt(easyHandle.get(), CURLOPT_ERRORBUFFER, errorBuffer);
    }
}

void CurlHandle::releaseOwnedLists() {
    for (const auto& [release, list] : ownedLists) {
        release(list);
    }
    ownedLists.clear();
}

}  // namespace vx::shared::agents::measurements::http
