// zelvik: the command-line tool. Lists cameras, reads and sets their values and registers, streams and
// snaps frames, on the attached cameras or on the built-in emulated camera (--emulated, or `demo`).
// Each command lives in its own cmd_*.cpp file and registers itself with the Tool.
#include "Tool.h"

int main(int argc, char** argv) {
    CLI::App app{"Zelvik Q77RX camera tool. Cameras are looked for under $ZELVIK_ROOT (default /)."};
    app.require_subcommand(1);
    zelvik_tool::Tool tool;
    app.add_flag("--emulated", tool.options.emulated,
                 "use the built-in emulated camera instead of attached cameras");
    zelvik_tool::AddCommands(app, tool);
    CLI11_PARSE(app, argc, argv);
    return tool.Run(app);
}
