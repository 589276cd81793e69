// vx-minidump-uploader: sends one minidump with its crash annotations as a multipart POST.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "ExitStatus.h"
#include "UploadRequest.h"
#include "http_client/StaticCurlHandleFactory.h"

namespace {

namespace http = vx::shared::agents::measurements::http;
using namespace vx::tools::uploader;

// The crash handler waits for us without a limit, so the upload must end on its own.
constexpr http::ICurlHandle::Seconds kTransferTimeout = 120;
constexpr const char* kDumpField = "upload_file_minidump";

constexpr const char* kUsage =
    "usage: vx-minidump-uploader [-pPROGRAM] [-kPRODUCT] [-vVERSION] [-bBUILD] [-aKEY=VALUE]...\n"
    "         [-xVALUE] [-uVALUE] [-PVALUE] [-tVALUE] [-6] DUMP URL LOG_FILE SECURITY_MODE\n"
    "Sends DUMP as the file part \"upload_file_minidump\" of a multipart/form-data POST to URL,\n"
    "with the form fields program, product, version, build, opt_x, opt_u, opt_P, opt_t,\n"
    "security_mode and one field KEY per annotation. -6 allows IPv6 (else IPv4 only).\n"
    "LOG_FILE is accepted and not sent. Nothing is deleted.\n"
    "Exit status: 0 answer 2xx, 64 usage error, 66 dump missing or unreadable,\n"
    "70 libcurl set-up failed, 75 transfer failed, 76 answer not 2xx.\n";

size_t discardBody(char*, size_t size, size_t count, void*) {
    return size * count;
}

bool dumpReadable(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && access(path.c_str(), R_OK) == 0;
}

int upload(http::ICurlHandle& handle, const UploadRequest& request) {
    const http::ICurlHandle::Result setup[] = {
        handle.setUrl(request.uploadUrl),
        handle.setMimePost(request.fields, {{kDumpField, request.dumpPath}}),
        handle.setIpResolve(request.ipv6Allowed ? http::ICurlHandle::IpResolve::Any
                                                : http::ICurlHandle::IpResolve::V4),
        handle.setTimeout(kTransferTimeout),
        handle.setWriteCallback(&discardBody, nullptr),
    };
    for (const auto code : setup) {
        if (code != CURLE_OK) {
            std::fprintf(stderr, "vx-minidump-uploader: set-up failed: %s\n", curl_easy_strerror(static_cast<CURLcode>(code)));
            return code == CURLE_URL_MALFORMAT || code == CURLE_UNSUPPORTED_PROTOCOL ? TransferFailed : SetupFailed;
        }
    }
    const auto code = handle.perform();
    if (code != CURLE_OK) {
        std::fprintf(stderr, "vx-minidump-uploader: upload to %s failed: %s\n", request.uploadUrl.c_str(),
                     handle.getErrorMessage().c_str());
        return TransferFailed;
    }
    const int32_t status = handle.getResponseCode();
    if (status < 200 || status > 299) {
        std::fprintf(stderr, "vx-minidump-uploader: %s answered %d\n", request.uploadUrl.c_str(), status);
        return Rejected;
    }
    return Success;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto request = parseCommandLine(argc, argv, error);
    if (!request) {
        std::fprintf(stderr, "vx-minidump-uploader: %s\n%s", error.c_str(), kUsage);
        return UsageError;
    }
    if (!dumpReadable(request->dumpPath)) {
        std::fprintf(stderr, "vx-minidump-uploader: cannot read dump %s\n", request->dumpPath.c_str());
        return DumpMissing;
    }
    http::StaticCurlHandleFactory factory;
    if (factory.globalInit() != CURLE_OK) {
        std::fprintf(stderr, "vx-minidump-uploader: libcurl initialisation failed\n");
        return SetupFailed;
    }
    int status = SetupFailed;
    if (auto handle = factory.createHandle(); handle && handle->init()) {
        status = upload(*handle, *request);
    }
    factory.globalCleanup();
    return status;
}
