#include "catalogue/table.hpp"

int main(int argc, char** argv) { return hardware_e2e::main(argc, argv); }
