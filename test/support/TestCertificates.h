#pragma once

// Throwaway TLS material made at run time: a CA and a server certificate it signed, valid for
// localhost, 127.0.0.1 and ::1 (EC P-256, one day). All PEM text.
//
//   auto certs = vx::test::TestCertificates::generate();
//   dir.writeFile("ca.pem", certs.caCertificatePem);

#include <string>

namespace vx::test {

struct TestCertificates {
    std::string caCertificatePem;
    std::string serverCertificatePem;
    std::string serverKeyPem;

    // Throws std::runtime_error when OpenSSL fails.
    static TestCertificates generate();
};

}  // namespace vx::test
