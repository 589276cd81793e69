// Stands in for the upload tool: appends its argument count and arguments, one a line, to
// "calls.txt" in the working directory, then ends as "behaviour" there says: an exit
// status in decimal, or "kill" to die by SIGKILL. No file means exit 0.
#include <csignal>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    {
        std::ofstream calls("calls.txt", std::ios::app);
        calls << argc << '\n';
        for (int index = 0; index < argc; ++index) {
            calls << argv[index] << '\n';
        }
    }
    std::ifstream behaviourFile("behaviour");
    std::string behaviour;
    if (!(behaviourFile >> behaviour)) {
        return 0;
    }
    if (behaviour == "kill") {
        std::raise(SIGKILL);
    }
    return std::stoi(behaviour);
}
