// zelvik: the command-line tool. Lists cameras, reads and sets their values and registers, streams
// frames, checks the system for a camera, on the attached cameras or on the built-in emulated camera
// (--emulated, or `demo`). Each command lives in its own cmd_*.cpp file and registers itself with the Tool.
#include <cstdio>
#include <string>

#include "CliDocs.h"
#include "Tool.h"

namespace {

// "list, info, get, ...": the commands as --help lists them.
std::string CommandNames(const CLI::App& app) {
    std::string names;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App* c) { return !c->get_group().empty(); }))
        names += (names.empty() ? "" : ", ") + command->get_name();
    return names;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zelvik_tool;
    CLI::App app{"Zelvik Q77RX camera tool. Cameras are looked for under $ZELVIK_ROOT (default /)."};
    app.require_subcommand(1);
    app.footer(kExitCodeHelp);
    app.set_version_flag("--version",
                         "zelvik " ZELVIK_VERSION ", library " + LibraryVersionText(Zelvik_GetDllVersion()));
    // The options before the command may also follow it: `zelvik preview --emulated`.
    app.fallthrough();
    Tool tool;
    app.add_flag("--emulated", tool.options.emulated,
                 "use the built-in emulated camera instead of attached cameras");
    auto* camera = app.add_option("--camera", tool.options.camera,
                                  "the camera to use, numbered from 1 as `list` shows them (the cameras attached "
                                  "now, in drive order)")
                       ->check(CLI::Range(1, 10));
    app.add_option("--serial", tool.options.serial, "the camera to use, by the serial `list` shows")
        ->excludes(camera);
    app.add_flag("--json", tool.options.json, "print the result as JSON on standard output (preview and demo refuse it)");
    AddCommands(app, tool);
    zelvik_cli::ShowDefaults(app);
    zelvik_cli::AddDocumentationFlags(
        app, {"zelvik", ZELVIK_VERSION, "the Zelvik Q77RX camera tool", "EXIT STATUS", "zelvik-emulator(1)"});
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // A word that names no command leaves CLI11 saying only that a command is required.
        const std::vector<std::string> rest = app.remaining();
        if (e.get_exit_code() != 0 && !rest.empty() && rest.front().rfind('-', 0) != 0 &&
            app.get_subcommands().empty()) {
            std::fprintf(stderr, "zelvik: unknown command '%s'; the commands are %s (see `zelvik --help`)\n",
                         rest.front().c_str(), CommandNames(app).c_str());
            return kExitUsage;
        }
        const int rc = app.exit(e);
        return rc == 0 ? kExitOk : kExitUsage;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "zelvik: %s\n", e.what());
        return kExitUsage;
    }
    return tool.Run();
}
