// The zelvik tool's shared context: the options every command takes, the camera handle a command works
// on, error reporting, and the registry each command file adds its subcommand to.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <string>

#include "ZelvikSdk.h"

namespace zelvik_tool {

// The options in front of the command.
struct Options {
    bool emulated = false;  // the built-in emulated camera instead of the attached ones
};

// "2 ZELVIK_ERR_NO_CAMERA (camera not present)"; only the number for a code the library never reports.
std::string ErrorText(int code);

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

class Tool {
public:
    Options options;

    // Makes `command` run `runner` when it is the one given on the command line.
    void SetRunner(CLI::App* command, Runner runner);
    // The camera handle of this run, opened on first use.
    Camera& camera();
    // Runs the parsed command; the process's exit code.
    int Run(const CLI::App& app);

private:
    std::vector<std::pair<CLI::App*, Runner>> runners_;
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
