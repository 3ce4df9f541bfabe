// The zelvik tool's shared context: the options every command takes, the camera handle a command works
// on, error reporting, exit codes, and the registry each command file adds its subcommand to.
#pragma once

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <signal.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "ZelvikSdk.h"

namespace zelvik_tool {

// The process's exit codes; scripts test them, --help lists them.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,    // a library call failed; its error is printed
    kExitUsage = 2,     // the command line is wrong (unknown command, option or setting name)
    kExitNoCamera = 3,  // no camera found (the library's error 2)
    kExitProblem = 4,   // doctor found a problem
};
extern const char kExitCodeHelp[];
// The exit code of a command that Ctrl-C (SIGINT) or SIGTERM ended early after finishing its work: 128
// plus the signal's number, as a shell reports a program the signal ended (130, 143).
constexpr int ExitForSignal(int signal) { return 128 + signal; }

// A command line that is wrong in a way only the command can tell (a value out of the setting's range):
// thrown while parsing, before any camera is opened; main prints it and exits with kExitUsage.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// While one lives, Ctrl-C and SIGTERM no longer end the process: the signal is noted, and the command
// that waits for something (frames, a recording, a dialog) sees it and ends its work properly.
class InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
    // The signal that arrived while a guard lived (SIGINT or SIGTERM), or 0.
    static int Signal();

private:
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

// The options in front of the command.
struct Options {
    bool emulated = false;  // the built-in emulated camera instead of the attached ones
    int camera = 1;         // which camera, numbered from 1 as `list` shows them
    std::string serial;     // which camera by its serial (instead of its number), when not empty
    bool json = false;      // machine-readable output on stdout
};

// The library version as people read it: Zelvik_GetDllVersion's four bytes, most significant first, as
// "major.minor.release.build" (0x012E0519 is "1.46.5.25").
std::string LibraryVersionText(int version);

// "2 ZELVIK_ERR_NO_CAMERA (camera not present)"; only the number for a code the library never reports.
std::string ErrorText(int code);
// {"code": 2, "name": "ZELVIK_ERR_NO_CAMERA", "message": "camera not present"}.
nlohmann::json ErrorJson(int code);

// One camera handle and its message queue, released at the end.
class Camera {
public:
    explicit Camera(bool emulated);
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    int handle() const { return handle_; }
    ZELVIK_HWND queue() const { return queue_; }
    // Prints and clears the error stack, each line prefixed by `what`; the number of errors.
    int ReportErrors(const char* what);

private:
    ZELVIK_HWND queue_;
    int handle_ = 0;
};

class Tool;

// What a command does once the command line is parsed; its result is the exit code.
using Runner = std::function<int(Tool&)>;

// What a command needs before it runs: nothing (it looks at the system itself), a library handle (it
// works with no camera attached, like `list`), or the camera chosen with --camera.
enum class Needs { Nothing, Handle, Camera };

class Tool {
public:
    Options options;

    // Makes `command` run `runner` when it is the one given on the command line.
    void SetRunner(CLI::App* command, Needs needs, Runner runner);
    // The camera handle of this run, opened on first use.
    Camera& camera();
    // Runs the parsed command; the process's exit code.
    int Run();
    // Says on stderr that no camera was found, and with --json also as JSON on stdout unless the command
    // printed its own; kExitNoCamera.
    int NoCamera(bool printJson = true);
    // The cameras attached now: on the system's disks, or the emulated camera's with --emulated. Opens
    // no camera.
    std::vector<ZelvikCameraEntry> Cameras();
    // Prints `value` as indented JSON on stdout.
    static void PrintJson(const nlohmann::json& value);
    // Makes --json a usage error for `command`, whose output is not a result (a window, a dialog).
    void RefuseJson(CLI::App* command);

private:
    // Opens the handle, reports what the start-up left on the error stack and selects the chosen camera;
    // kExitOk or the exit code to end with.
    int Open(Needs needs);

    std::vector<std::tuple<CLI::App*, Needs, Runner>> runners_;
    std::vector<CLI::App*> noJson_;
    std::unique_ptr<Camera> camera_;
};

// Each command file registers its subcommand with a static CommandRegistration; `order` places it in the
// help listing (smaller first).
using AddCommand = void (*)(CLI::App& app, Tool& tool);
struct CommandRegistration {
    CommandRegistration(int order, AddCommand add);
};
// Adds every registered command to `app`, in order.
void AddCommands(CLI::App& app, Tool& tool);

}  // namespace zelvik_tool
