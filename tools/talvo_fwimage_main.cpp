#include <iostream>

#include "tools/fw_cli.h"

int main(int argc, char** argv) {
    return talvo::fwtools::RunFwImage({argv + 1, argv + argc}, std::cout, std::cerr);
}
