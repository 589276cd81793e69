#pragma once

namespace vx::tools::uploader {

// Exit statuses, after sysexits.h; the crash handler treats anything but Success as a failure.
enum ExitStatus : int {
    Success = 0,          // the server answered 2xx
    UsageError = 64,      // malformed command line
    DumpMissing = 66,     // the dump is not a readable regular file
    SetupFailed = 70,     // libcurl could not be initialised or configured
    TransferFailed = 75,  // no answer: connection, timeout, bad URL, ...
    Rejected = 76,        // the server answered, but not with 2xx
};

}  // namespace vx::tools::uploader
