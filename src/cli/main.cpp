#include "cli/run.hpp"

int main(int argc, char** argv) {
    cliptint::run(argc, argv);
}
