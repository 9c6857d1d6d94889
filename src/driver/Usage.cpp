#include "driver/Usage.h"

#include "driver/Console.h"

void PrintUsage()
{
    static const char* const kLines[] = {
        "\nMorvaneDirect [options] filename\n",
        "   Link and/or download a Morvane program or download a moxfile from the command line.\n",
        "\n",
        "   Filename is the name of the .class file containing the\n",
        "   main() method or the mox file. Do not use the .class, .java or .mox suffix.\n",
        "\n",
        "   --path <path> Classpath. Multiple paths are separated by semicolons.\n",
        "                 Use quotes if there are spaces in the paths.\n",
        "   --port <port> Serial port number. e.g. 2 for COM2.\n",
        "                 The port number will be automatically chosen if not specified.\n",
        "   --listen      After downloading the program listen and receive any\n",
        "                 debug messages from the Morvane.\n",
        "   --link        Only link sources and create mox file.\n",
        "   --load        Only download a mox file to the Morvane.\n",
        "   --help        Display this help message\n",
        "\n",
        "   To link and download:\n",
        "   e.g. MorvaneDirect --path \"C:\\morvane\\lib;C:\\morvane\\Files\" --port 1 Rovlet\n",
        "   To link only:\n",
        "   e.g. MorvaneDirect --link \"C:\\Rovlet\"\n",
        "   To download only:\n",
        "   e.g. MorvaneDirect --load --port 1 \"C:\\Rovlet\"\n",
        "\n",
    };
    for (const char* line : kLines)
        ConsoleText(line);
}
