#include "app/BatchDriver.h"

#ifdef _WIN32
#include <string>
#include <vector>

#include "platform/WindowsFiles.h"

// Windows hands over the command line in wide characters; inside, names are UTF-8.
int wmain(int argc, wchar_t** argv)
{
    platform::windows::prepareConsole();
    const std::vector<std::string> utf8 = platform::windows::utf8Arguments(argc, argv);
    std::vector<const char*> arguments;
    for (const std::string& argument : utf8)
        arguments.push_back(argument.c_str());
    arguments.push_back(nullptr);
    return runVellico(argc, arguments.data());
}
#else
int main(int argc, char** argv) { return runVellico(argc, argv); }
#endif
