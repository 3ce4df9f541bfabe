// A program's manual page and bash completion, written from the CLI11 definition its --help prints, so
// that the three never disagree.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace zelvik_cli {

struct ManPageInfo {
    std::string name;     // the program's name, as installed
    std::string version;  // shown in the page's footer
    std::string summary;  // one line for the NAME section
    // The heading the app's footer goes under ("EXIT STATUS", "NOTES"); a subcommand's footer is shown
    // under that subcommand unless it repeats its parent's.
    std::string footerHeading = "NOTES";
    std::string seeAlso;  // "zelvik-emulator(1)"; no SEE ALSO section when empty
};

// The manual page, in roff (man(7) macros): synopsis, options with their value types and defaults,
// positionals, every visible subcommand with its options, and the footer.
std::string ManPage(const CLI::App& app, const ManPageInfo& info);

// A bash completion script for `name`: commands, options of the command being typed, the choices of an
// option or positional that has a fixed set of them, file names for any other value.
std::string BashCompletion(const CLI::App& app, const std::string& name);

// Makes --help (and so the manual page) show the default of every option that takes a value and need not be
// given: the value its variable holds now. Call once every option is added.
void ShowDefaults(CLI::App& app);

// Adds the hidden flags --man-page and --bash-completion to `app`: each prints its text for the app as
// it is when parsed (every subcommand added) and ends parsing with CLI::Success (exit status 0).
void AddDocumentationFlags(CLI::App& app, ManPageInfo info);

}  // namespace zelvik_cli
