#pragma once

// --help, --version and usage errors, answered alike by every tool. Header only: a tool links
// nothing for it. NBR_VERSION comes from the build (nbr_tool in the top CMakeLists.txt).

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#ifndef NBR_VERSION
#define NBR_VERSION "unknown"
#endif

namespace platform {

struct ToolDescription {
    const char *name;
    const char *purpose;           // one line
    const char *usage;             // the lines after "usage: ", each ending in '\n'
    const char *details = nullptr; // more for --help, or null
};

inline void printUsage(std::FILE *out, const ToolDescription &tool) {
    std::fprintf(out, "usage: %s", tool.usage);
}

// --help or --version anywhere before "--": the answer on stdout and the status to exit with
// (0); nothing when neither is there. Runs before any application object, so it needs no
// display, bus or daemon.
inline std::optional<int> answerHelpOrVersion(int argc, char **argv, const ToolDescription &tool) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printUsage(stdout, tool);
            std::printf("\n%s\n", tool.purpose);
            if (tool.details != nullptr)
                std::printf("\n%s", tool.details);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s (Nimbrel) %s\n", tool.name, NBR_VERSION);
            return 0;
        }
    }
    return std::nullopt;
}

// The problem and the usage on stderr; the status a usage error exits with.
inline int usageError(const ToolDescription &tool, const std::string &problem) {
    if (!problem.empty())
        std::fprintf(stderr, "%s: %s\n", tool.name, problem.c_str());
    printUsage(stderr, tool);
    std::fprintf(stderr, "Try '%s --help' for more.\n", tool.name);
    return 2;
}

} // namespace platform
