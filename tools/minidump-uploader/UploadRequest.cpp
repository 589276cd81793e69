#include "UploadRequest.h"

#include <cstring>

namespace vx::tools::uploader {

namespace {

struct FlagField {
    const char* flag;
    const char* field;
};

// Form field names of the flags that carry a value; "-a" and "-6" are handled apart.
constexpr FlagField kFlagFields[] = {
    {"-p", "program"}, {"-k", "product"}, {"-v", "version"}, {"-b", "build"},
    {"-x", "opt_x"},   {"-u", "opt_u"},   {"-P", "opt_P"},   {"-t", "opt_t"},
};

const char* fieldOfFlag(const std::string& argument) {
    for (const auto& entry : kFlagFields) {
        if (argument.compare(0, 2, entry.flag) == 0) {
            return entry.field;
        }
    }
    return nullptr;
}

// True when argument is one of our flags; appends its field or sets error.
bool takeFlag(const std::string& argument, UploadRequest& request, std::string& error) {
    if (argument == "-6") {
        request.ipv6Allowed = true;
        return true;
    }
    if (argument.compare(0, 2, "-a") == 0) {
        const auto equals = argument.find('=');
        if (equals == std::string::npos || equals == 2) {
            error = "annotation must be -aKEY=VALUE: " + argument;
            return true;
        }
        request.fields.emplace_back(argument.substr(2, equals - 2), argument.substr(equals + 1));
        return true;
    }
    if (const char* field = fieldOfFlag(argument)) {
        request.fields.emplace_back(field, argument.substr(2));
        return true;
    }
    return false;
}

}  // namespace

std::optional<UploadRequest> parseCommandLine(int argc, const char* const* argv, std::string& error) {
    UploadRequest request;
    int index = 1;
    // Flags come first; the first argument that is not one starts the positionals.
    for (; index < argc; ++index) {
        if (!takeFlag(argv[index], request, error)) {
            break;
        }
        if (!error.empty()) {
            return std::nullopt;
        }
    }
    if (argc - index != 4) {
        error = "expected 4 positional arguments (dump, URL, log file, security mode), got " +
                std::to_string(argc - index);
        if (index < argc && argv[index][0] == '-' && argv[index][1] != '\0') {
            error = std::string("unknown flag: ") + argv[index];
        }
        return std::nullopt;
    }
    request.dumpPath = argv[index];
    request.uploadUrl = argv[index + 1];
    request.logFilePath = argv[index + 2];
    request.securityMode = argv[index + 3];
    if (request.dumpPath.empty()) {
        error = "empty dump path";
        return std::nullopt;
    }
    request.fields.emplace_back("security_mode", request.securityMode);
    return request;
}

}  // namespace vx::tools::uploader
