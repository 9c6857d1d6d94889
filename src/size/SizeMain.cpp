#include "size/SizeCommand.h"

int main(int argc, char** argv) { return RunMorvaneSize(std::vector<std::string>(argv + 1, argv + argc)); }
