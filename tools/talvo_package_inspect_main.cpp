#include <iostream>

#include "tools/package_inspector.h"

int main(int argc, char** argv) {
    return talvo::fwtools::RunPackageInspect({argv + 1, argv + argc}, std::cout, std::cerr);
}
