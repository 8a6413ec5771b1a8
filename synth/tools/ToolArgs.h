#pragma once
// The command line of the small SMAF tools: --help and --version answer on standard output,
// an unknown option is bad usage, and "--" ends the options (a file may then start with "-").
#include <algorithm>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "TarvelVersion.h"

// The file arguments, or the exit status when the program is to end at once (0 after --help or
// --version, 2 after an unknown option). `flags` are the options the tool takes itself; they
// stay in the list.
inline std::optional<int> ToolArgs(int argc, char** argv, const char* name, const char* usage,
                                   const std::vector<std::string>& flags, std::vector<std::string>& args)
{
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (options && a == "--") {
            options = false;
        } else if (options && (a == "--help" || a == "-h")) {
            std::cout << usage;
            return 0;
        } else if (options && a == "--version") {
            std::cout << name << " " << kTarvelVersion << "\n";
            return 0;
        } else if (options && a.size() > 1 && a[0] == '-' && std::find(flags.begin(), flags.end(), a) == flags.end()) {
            std::cerr << name << ": unknown option " << a << "\n" << usage;
            return 2;
        } else {
            args.push_back(a);
        }
    }
    return std::nullopt;
}
