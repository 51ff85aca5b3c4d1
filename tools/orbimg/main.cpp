// orbimg: the command-line front end of the library.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "tool.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    orbimg::tool::Context ctx{std::cout, std::cerr, isatty(STDERR_FILENO) != 0};
    int status = orbimg::tool::Main(args, ctx);
    std::cout.flush();
    if (!std::cout && status == 0) {
        std::cerr << "orbimg: cannot write the results to standard output\n";
        status = 1;
    }
    return status;
}
