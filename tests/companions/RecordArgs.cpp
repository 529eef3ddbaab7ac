// Stands in for a companion program: writes its argument vector, one argument a
// line, to $QUANTIRO_ARGS_DIR/<its file name>.<pid>. As the monitor ("dlmon.dll")
// it then stays, as the monitor does, until it is told to end.
#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

int main(int argc, char** argv) {
    const char* directory = std::getenv("QUANTIRO_ARGS_DIR");
    if (!directory) {
        return 2;
    }
    const std::string self = argv[0];
    const std::string name = self.substr(self.rfind('/') + 1);
    const std::string path = std::string(directory) + "/" + name + "." + std::to_string(::getpid());
    {
        std::ofstream out(path + ".tmp");
        for (int i = 0; i < argc; ++i) {
            out << argv[i] << '\n';
        }
    }
    std::rename((path + ".tmp").c_str(), path.c_str());
    if (name == "dlmon.dll") {
        ::sleep(60);
    }
    return 0;
}
