// Child process for the start-up tests: its first log4cxx use is chosen by argv[1].
//   logger            log through a named logger only, with no log set up
//   manager <dir>     set up the main log in <dir> first, then log
//   count-one <dir>   set up the main log with a file count of 1, then log
#include "vx/util/LogManager.h"
#include "vx/util/Logging.h"

#include <cstring>
#include <iostream>

VX_DEFINE_LOGGER(probeLogger, "vx.test.probe")

int main(int argc, char** argv) {
    namespace lm = vx::util::log_manager;
    if (argc >= 3 && std::strcmp(argv[1], "manager") == 0) {
        lm::addMainLogAppender(argv[2], "probe.log", 1, 2, "DEBUG");
    } else if (argc >= 3 && std::strcmp(argv[1], "count-one") == 0) {
        lm::addMainLogAppender(argv[2], "probe.log", 1, 1, "DEBUG");
    } else if (argc < 2 || std::strcmp(argv[1], "logger") != 0) {
        std::cerr << "usage: logs_probe logger | manager <dir> | count-one <dir>\n";
        return 2;
    }
    VX_LOG_DEBUG(probeLogger(), "probe debug");
    VX_LOG_INFO(probeLogger(), "probe info");
    VX_LOG_ERROR(probeLogger(), "probe error");
    VX_LOG_FATAL(probeLogger(), "probe fatal");
    return 0;
}
