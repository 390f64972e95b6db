#include "app/command_line.hpp"
#include "base/standard_streams.hpp"

int main(int argc, char** argv) {
    // Before anything is opened: a closed descriptor 1 or 2 would be the next file's number.
    if (!search::open_standard_streams()) {
        return 2;
    }
    return pyrn::run(argc, argv);
}
