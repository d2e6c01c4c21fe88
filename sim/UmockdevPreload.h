// umockdev's preload library, which every process that hosts a simulated bus
// or talks to simulated devices must run under.
#pragma once

namespace oru_sim {

class UmockdevPreload {
public:
    // Its name or path, as LD_PRELOAD takes it (fixed when the simulator is built).
    static const char* const kLibrary;

    // The preload library is loaded in this process.
    static bool active();
    // Returns at once when active; otherwise runs the program again with the
    // library added to LD_PRELOAD (argv as given to main). Throws
    // std::runtime_error when that cannot be done.
    static void ensureActive(char** argv);
};

}  // namespace oru_sim
