// Lays an empty database at the path given.
#include "shared/schema.h"

#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " PATH\n";
        return 2;
    }
    try {
        corvale::createEmptyDatabase(argv[1]);
    } catch (const std::exception& failure) {
        std::cerr << failure.what() << '\n';
        return 1;
    }
    return 0;
}
