// The names each plug-in exports, as the dynamic loader sees them: other processes' code finds
// the shared routines by their plain names, and nothing else of the unit is on offer.
#include <cctype>
#include <cstdio>
#include <gtest/gtest.h>
#include <set>
#include <string>

namespace {

// The defined, global names of the library's dynamic symbol table (what dlsym can find).
std::set<std::string> exportedNames(const std::string &library) {
    std::set<std::string> names;
    const std::string command = "nm -D --defined-only '" + library + "'";
    FILE *output = ::popen(command.c_str(), "r");
    if (output == nullptr)
        return names;
    char line[4096];
    while (std::fgets(line, sizeof line, output) != nullptr) {
        char type = 0;
        char name[4096];
        if (std::sscanf(line, "%*s %c %4095s", &type, name) == 2 && type != 'U' &&
            std::isupper(static_cast<unsigned char>(type)))
            names.insert(name);
    }
    EXPECT_EQ(::pclose(output), 0) << command;
    return names;
}

const std::set<std::string> kSharedByBoth = {"NBRPreferencesFileStillInAtomicWrite",
                                             "NBRColorPixelForHexString", "crc32",
                                             "NBRConnecToUNIXSocket", "NBRConnectToControlSocket"};
const std::set<std::string> kBundleOnly = {"NBRColorForHexString", "NBRStringColorForUIColor",
                                           "NBRDefaultLEDColor", "NBRKeymapCellID"};

} // namespace

TEST(PluginExports, TheBundleExportsEverySharedNameUnmangled) {
    const std::set<std::string> names = exportedNames(BUNDLE_PATH);
    ASSERT_FALSE(names.empty());
    for (const auto &set : {kSharedByBoth, kBundleOnly})
        for (const std::string &name : set)
            EXPECT_EQ(names.count(name), 1u) << name;
    for (const std::string &name : names) {
        if (name.find("NBRStringColorForUIColor") != std::string::npos) {
            EXPECT_EQ(name, "NBRStringColorForUIColor") << "a mangled form";
        }
    }
}

TEST(PluginExports, TheBannerPluginExportsOnlyItsShareOfTheRoutines) {
    const std::set<std::string> names = exportedNames(PLUGIN_PATH);
    for (const std::string &name : kSharedByBoth)
        EXPECT_EQ(names.count(name), 1u) << name;
    for (const std::string &name : names) {
        if (name.find("NBR") != std::string::npos || name == "crc32") {
            EXPECT_EQ(kSharedByBoth.count(name), 1u) << "exported besides: " << name;
        }
    }
}
