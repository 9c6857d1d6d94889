#include "driver/RunSequence.h"

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    return RunMorvaneDirect(std::vector<std::string>(argv + 1, argv + argc));
}
