#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>

#include "http_client/CurlHandle.h"
#include "http_client/CurlOptionTables.h"
#include "http_client/ResolveEntries.h"
#include "http_client/StringUpload.h"

namespace vx::shared::agents::measurements::http {
namespace {

using H = ICurlHandle;
namespace t = curl_tables;

template <typename Enum>
Enum as(long long value) {
    return static_cast<Enum>(value);
}

struct TableCase {
    const char* name;
    std::optional<long> actual;
    std::optional<long> expected;
};

TEST(CurlOptionTables, MapEveryValueAndRejectTheRest) {
    const std::optional<long> rejected;
    const TableCase cases[] = {
        {"Hsts Disabled", t::curlValueOf(H::HstsMode::Disabled), 0},
        {"Hsts Enabled", t::curlValueOf(H::HstsMode::Enabled), 1},
        {"Hsts 2", t::curlValueOf(as<H::HstsMode>(2)), rejected},
        {"Http1_0", t::curlValueOf(H::HttpVersion::Http1_0), 1},
        {"Http1_1", t::curlValueOf(H::HttpVersion::Http1_1), 2},
        {"Http2", t::curlValueOf(H::HttpVersion::Http2), 3},
        {"HttpVersion 3", t::curlValueOf(as<H::HttpVersion>(3)), rejected},
        {"Auth None", t::curlValueOf(H::AuthType::None), 0},
        {"Auth Basic", t::curlValueOf(H::AuthType::Basic), 1},
        {"Auth Digest", t::curlValueOf(H::AuthType::Digest), 2},
        {"Auth Negotiate", t::curlValueOf(H::AuthType::Negotiate), 4},
        {"Auth Ntlm", t::curlValueOf(H::AuthType::Ntlm), 8},
        {"Auth 5", t::curlValueOf(as<H::AuthType>(5)), rejected},
        {"IpResolve Any", t::curlValueOf(H::IpResolve::Any), 0},
        {"IpResolve V4", t::curlValueOf(H::IpResolve::V4), 1},
        {"IpResolve V6", t::curlValueOf(H::IpResolve::V6), 2},
        {"IpResolve 3", t::curlValueOf(as<H::IpResolve>(3)), rejected},
        {"Ssl Default", t::curlValueOf(H::SslVersion::Default), 0},
        {"Ssl SSLv3", t::curlValueOf(H::SslVersion::SSLv3), 3},
        {"Ssl TLSv1", t::curlValueOf(H::SslVersion::TLSv1), 1},
        {"Ssl TLSv1_0", t::curlValueOf(H::SslVersion::TLSv1_0), 4},
        {"Ssl TLSv1_1", t::curlValueOf(H::SslVersion::TLSv1_1), 5},
        {"Ssl TLSv1_2", t::curlValueOf(H::SslVersion::TLSv1_2), 6},
        {"Ssl TLSv1_3", t::curlValueOf(H::SslVersion::TLSv1_3), 7},
        {"Ssl 6", t::curlValueOf(as<H::SslVersion>(6)), rejected},
        {"Ssl -2", t::curlValueOf(as<H::SslVersion>(-2)), rejected},
        {"UseSsl None", t::curlValueOf(H::UseSsl::None), 0},
        {"UseSsl Try", t::curlValueOf(H::UseSsl::Try), 1},
        {"UseSsl Control", t::curlValueOf(H::UseSsl::Control), 2},
        {"UseSsl All", t::curlValueOf(H::UseSsl::All), 3},
        {"UseSsl 4", t::curlValueOf(as<H::UseSsl>(4)), rejected},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, c.actual) << c.name;
    }

    EXPECT_EQ("DELETE", t::customRequestOf(H::HttpMethod::DELETE));
    EXPECT_EQ("", t::customRequestOf(H::HttpMethod::GET));
    EXPECT_EQ("PATCH", t::customRequestOf(H::HttpMethod::PATCH));
    EXPECT_EQ("", t::customRequestOf(H::HttpMethod::POST));
    EXPECT_EQ("", t::customRequestOf(H::HttpMethod::PUT));
    EXPECT_EQ(std::nullopt, t::customRequestOf(as<H::HttpMethod>(5)));

    const char* schemes[] = {"http", "https", "ftp", "ftps", "scp", "sftp"};
    for (int value = 0; value < 6; ++value) {
        EXPECT_EQ(schemes[value], t::schemeOf(as<H::Protocol>(value))) << value;
    }
    EXPECT_EQ(std::nullopt, t::schemeOf(as<H::Protocol>(6)));
}

// Out-of-range values never reach libcurl; in-range ones do and libcurl accepts them.
TEST(CurlOptionTables, SettersRejectValuesOutsideTheirTable) {
    CurlHandle handle;
    ASSERT_TRUE(handle.init());
    const H::Result bad = CURLE_BAD_FUNCTION_ARGUMENT;
    EXPECT_EQ(bad, handle.setHsts(as<H::HstsMode>(2)));
    EXPECT_EQ(bad, handle.setHttpVersion(as<H::HttpVersion>(3)));
    EXPECT_EQ(bad, handle.setIpResolve(as<H::IpResolve>(3)));
    EXPECT_EQ(bad, handle.setSslVersion(as<H::SslVersion>(6)));
    EXPECT_EQ(bad, handle.setUseSsl(as<H::UseSsl>(4)));
    EXPECT_EQ(bad, handle.setHttpAuth(as<H::AuthType>(5), "u", "p"));
    EXPECT_EQ(bad, handle.setProxyAuth(as<H::AuthType>(5), "u", "p"));
    EXPECT_EQ(bad, handle.setAllowedProtocols({H::Protocol::HTTP, as<H::Protocol>(6)}));
    EXPECT_EQ(bad, handle.setMethod(as<H::HttpMethod>(5)));
    EXPECT_EQ(bad, handle.setBody(as<H::HttpMethod>(5), "x"));
    EXPECT_EQ(bad, handle.setBodyStream(as<H::HttpMethod>(5), nullptr, nullptr, 0));

    EXPECT_EQ(0u, handle.setHsts(H::HstsMode::Enabled));
    EXPECT_EQ(0u, handle.setHttpVersion(H::HttpVersion::Http2));
    EXPECT_EQ(0u, handle.setIpResolve(H::IpResolve::V4));
    EXPECT_EQ(0u, handle.setSslVersion(H::SslVersion::TLSv1_3));
    EXPECT_EQ(0u, handle.setUseSsl(H::UseSsl::All));
    EXPECT_EQ(0u, handle.setMethod(H::HttpMethod::GET));
    // libcurl itself refuses SSLv3 (the value 3 is passed on and rejected there).
    EXPECT_EQ(bad, handle.setSslVersion(H::SslVersion::SSLv3));
}

struct ResolveCase {
    std::string host;
    std::vector<std::string> addresses;
    uint16_t port;
    std::vector<std::string> expected;
};

TEST(ResolveEntries, PinEveryPortOnceInAscendingOrder) {
    const ResolveCase cases[] = {
        {"vault.test", {"192.0.2.7"}, 80, {"vault.test:80:192.0.2.7", "vault.test:443:192.0.2.7"}},
        {"vault.test", {"192.0.2.7"}, 443, {"vault.test:80:192.0.2.7", "vault.test:443:192.0.2.7"}},
        {"vault.test", {"192.0.2.7", "2001:db8::1"}, 8443,
         {"vault.test:80:192.0.2.7,[2001:db8::1]", "vault.test:443:192.0.2.7,[2001:db8::1]",
          "vault.test:8443:192.0.2.7,[2001:db8::1]"}},
        {"vault.test", {}, 21, {"vault.test:21:", "vault.test:80:", "vault.test:443:"}},
        {"fd00::1", {"192.0.2.7"}, 443, {"[fd00::1]:80:192.0.2.7", "[fd00::1]:443:192.0.2.7"}},
        {"[fd00::1]", {"[::1]"}, 80, {"[fd00::1]:80:[::1]", "[fd00::1]:443:[::1]"}},
        {"h:", {"::1"}, 443, {"[h:]:80:[::1]", "[h:]:443:[::1]"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, buildResolveEntries(c.host, c.addresses, c.port)) << c.host << " " << c.port;
    }
    EXPECT_EQ("[", formatHost("["));
    EXPECT_EQ("[]", formatHost("[]"));
}

TEST(StringUpload, ReadsInPiecesAndSeeksOnlyWithinTheBody) {
    UploadBody record{std::string("ab\0cd", 5), 0};
    char buffer[8] = {};
    EXPECT_EQ(3u, readStringBody(buffer, 1, 3, &record));
    EXPECT_EQ(std::string("ab\0", 3), std::string(buffer, 3));
    EXPECT_EQ(2u, readStringBody(buffer, 1, 8, &record));
    EXPECT_EQ("cd", std::string(buffer, 2));
    EXPECT_EQ(0u, readStringBody(buffer, 1, 8, &record));
    EXPECT_EQ(static_cast<size_t>(CURL_READFUNC_ABORT), readStringBody(buffer, 1, 8, nullptr));

    EXPECT_EQ(CURL_SEEKFUNC_OK, seekStringBody(&record, 0, SEEK_SET));
    EXPECT_EQ(0u, record.offset);
    EXPECT_EQ(CURL_SEEKFUNC_OK, seekStringBody(&record, 5, SEEK_SET));
    EXPECT_EQ(CURL_SEEKFUNC_FAIL, seekStringBody(&record, 6, SEEK_SET));
    EXPECT_EQ(CURL_SEEKFUNC_FAIL, seekStringBody(&record, -1, SEEK_SET));
    EXPECT_EQ(CURL_SEEKFUNC_FAIL, seekStringBody(&record, 0, SEEK_CUR));
    EXPECT_EQ(CURL_SEEKFUNC_FAIL, seekStringBody(nullptr, 0, SEEK_SET));
    EXPECT_EQ(5u, record.offset);

    UploadBody empty;
    EXPECT_EQ(0u, readStringBody(buffer, 1, 8, &empty));
    EXPECT_EQ(CURL_SEEKFUNC_OK, seekStringBody(&empty, 0, SEEK_SET));
    EXPECT_EQ(CURL_SEEKFUNC_FAIL, seekStringBody(&empty, 1, SEEK_SET));
}

}  // namespace
}  // namespace vx::shared::agents::measurements::http
