#include <cstdio>
#include <cstdlib>

// Tells the test which copy was loaded, by the name it was installed under.
__attribute__((constructor)) static void probeLoaded() {
    if (const char *log = std::getenv("PROBE_PLUGIN_LOG")) {
        if (std::FILE *file = std::fopen(log, "a")) {
            std::fputs("loaded\n", file);
            std::fclose(file);
        }
    }
}
