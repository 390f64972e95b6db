#include "app/command_line.hpp"

int main(int argc, char** argv) {
    return pyrn::run(argc, argv);
}
