#include "OptionsParser.h"

#include <fstream>
#include <utility>
#include <vector>

#include <boost/program_options/errors.hpp>
#include <boost/program_options/parsers.hpp>

#include "OptionsTable.h"

namespace po = boost::program_options;

namespace vx::rc::vault_accessor {

namespace {

std::vector<std::string> argumentsAfterProgramName(int argc, const char* const* argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
    return arguments;
}

// A directory opens like a file but fails on the first read; it counts as unopenable.
bool isReadable(std::ifstream& file) {
    if (!file.is_open()) {
        return false;
    }
    file.peek();
    return !file.bad();
}

}  // namespace

OptionsOutcome parseOptions(int argc, const char* const* argv, std::ostream& out,
                            std::ostream& err) {
    return parseOptions(argc, argv, out, err, kDefaultConfigFile);
}

OptionsOutcome parseOptions(int argc, const char* const* argv, std::ostream& out,
                            std::ostream& err, const std::string& defaultConfigFile) {
    // A process may be started with no arguments at all, not even its name.
    const std::string programName = argc > 0 && argv[0] != nullptr ? argv[0] : "";
    po::variables_map values;
    try {
        const po::options_description printed = describeOptions(defaultConfigFile);
        po::options_description parsed(kHelpLineLength, kHelpMinDescriptionLength);
        parsed.add(printed);

        // The command line is stored first: the map keeps the first value it gets.
        po::store(po::command_line_parser(argumentsAfterProgramName(argc, argv))
                      .options(parsed)
                      .allow_unregistered()
                      .run(),
                  values);

        // Before the file is read, so the help works whatever state the file is in.
        if (values.count(option::kHelp) != 0) {
            writeHelp(out, programName, printed);
            return {std::nullopt, 0};
        }

        const po::variable_value& configFileValue = values[option::kConfigFile];
        const std::string configFile = configFileValue.as<std::string>();
        if (!configFile.empty()) {
            std::ifstream file(configFile);
            if (isReadable(file)) {
                // The file is the agent's; keys of the agent's own are ignored.
                po::store(po::parse_config_file(file, parsed, true), values);
            } else if (!configFileValue.defaulted()) {
                err << "Can't open config file: " << configFile << '\n';
                return {std::nullopt, kExitConfigFileUnreadable};
            }
        }
        po::notify(values);
    } catch (const po::error& e) {
        err << "Error with args: " << e.what() << '\n';
        return {std::nullopt, kExitOptionsError};
    }
    return {Options(std::move(values)), 0};
}

}  // namespace vx::rc::vault_accessor
