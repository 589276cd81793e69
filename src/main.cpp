#include <iostream>

#include "OptionsParser.h"

int main(int argc, const char** argv) {
    auto outcome = vx::rc::vault_accessor::parseOptions(argc, argv, std::cout, std::cerr);
    if (!outcome.options) {
        return outcome.exitStatus;
    }
    return 0;
}
