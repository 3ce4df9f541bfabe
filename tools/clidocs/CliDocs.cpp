// Writes a CLI11 app's manual page (roff) and bash completion script.
#include "CliDocs.h"

#include <iostream>
#include <sstream>
#include <utility>
#include <vector>

namespace zelvik_cli {
namespace {

bool Visible(const CLI::Option* option) { return !option->get_group().empty(); }
bool TakesValue(const CLI::Option* option) { return option->get_expected_max() != 0; }

std::vector<const CLI::Option*> Options(const CLI::App& app, bool positional) {
    return app.get_options(
        [positional](const CLI::Option* o) { return Visible(o) && o->get_positional() == positional; });
}

// The commands a user can type: named subcommands that are not hidden (option groups have no name).
std::vector<const CLI::App*> Commands(const CLI::App& app) {
    return app.get_subcommands(
        [](const CLI::App* sub) { return !sub->get_name().empty() && !sub->get_group().empty(); });
}

// The fixed set of values a check allows, from the description CLI11 gives it ("TEXT:{high,normal,low}");
// empty when the values are free.
std::vector<std::string> Choices(const CLI::Option* option) {
    const std::string type = option->get_type_name();
    const std::size_t open = type.find(":{");
    if (open == std::string::npos || type.back() != '}') return {};
    std::vector<std::string> choices;
    std::istringstream list(type.substr(open + 2, type.size() - open - 3));
    for (std::string choice; std::getline(list, choice, ',');) choices.push_back(choice);
    return choices;
}

bool Numeric(const CLI::Option* option) {
    const std::string type = option->get_type_name();
    for (const char* prefix : {"INT", "UINT", "FLOAT", "NUMBER"})
        if (type.rfind(prefix, 0) == 0) return true;
    return false;
}

// ---- roff ----

// Text as roff reads it literally: backslashes and hyphens escaped, a control character at the start of a
// line made plain.
std::string Roff(const std::string& text) {
    std::string out;
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart && (c == '.' || c == '\'')) out += "\\&";
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
        lineStart = c == '\n';
    }
    return out;
}

// A macro argument: roff text in double quotes, a quote inside doubled.
std::string Argument(const std::string& text) {
    std::string out = "\"";
    for (const char c : Roff(text)) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string Bold(const std::string& text) { return "\\fB" + Roff(text) + "\\fR"; }
std::string Italic(const std::string& text) { return "\\fI" + Roff(text) + "\\fR"; }

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// "[OPTIONS] MOUNTPOINT [file]" for a synopsis line.
std::string Usage(const CLI::App& app) {
    std::string usage = "[" + Italic("OPTIONS") + "]";
    for (const CLI::Option* p : Options(app, true)) {
        const std::string name = Italic(p->get_name(true));
        usage += " " + (p->get_required() ? name : "[" + name + "]");
        if (p->get_expected_max() > 1) usage += " ...";
    }
    if (!Commands(app).empty()) usage += " " + Italic("COMMAND") + " ...";
    return usage;
}

void WriteOption(std::ostream& out, const CLI::Option* option) {
    std::string label;
    if (option->get_positional()) {
        label = Italic(option->get_name(true));
    } else {
        for (const std::string& s : option->get_snames())
            label += (label.empty() ? "" : ", ") + Bold("-" + s);
        for (const std::string& l : option->get_lnames())
            label += (label.empty() ? "" : ", ") + Bold("--" + l);
    }
    if (TakesValue(option)) label += " " + Italic(option->get_type_name());
    out << ".TP\n" << label << "\n" << Roff(option->get_description());
    // A description that names its default already says it best.
    if (!option->get_default_str().empty() && option->get_description().find("default") == std::string::npos)
        out << " (default: " << Roff(option->get_default_str()) << ")";
    if (option->get_required()) out << " (required)";
    out << "\n";
}

// A footer keeps its own layout: lists and tables are aligned with spaces.
void WriteVerbatim(std::ostream& out, const std::string& text) {
    out << ".PP\n.nf\n" << Roff(text) << "\n.fi\n";
}

// ---- bash ----

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\' || c == '$' || c == '`') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string Words(const std::vector<std::string>& words) {
    std::string joined;
    for (const std::string& w : words) joined += (joined.empty() ? "" : " ") + w;
    return Quoted(joined);
}

std::vector<std::string> OptionNames(const CLI::Option* option) {
    std::vector<std::string> names;
    for (const std::string& s : option->get_snames()) names.push_back("-" + s);
    for (const std::string& l : option->get_lnames()) names.push_back("--" + l);
    return names;
}

// One case pattern per scope and word: "SCOPE WORD" ("" scope is the program itself).
std::string Pattern(const std::string& scope, const std::string& word) { return Quoted(scope + " " + word); }

std::string Alternatives(const std::vector<std::string>& patterns) {
    std::string joined;
    for (const std::string& p : patterns) joined += (joined.empty() ? "" : "|") + p;
    return joined;
}

}  // namespace

std::string ManPage(const CLI::App& app, const ManPageInfo& info) {
    std::ostringstream out;
    out << ".TH " << Upper(Roff(info.name)) << " 1 \"\" " << Argument(info.name + " " + info.version)
        << " \"User Commands\"\n";
    out << ".SH NAME\n" << Roff(info.name) << " \\- " << Roff(info.summary) << "\n";
    out << ".SH SYNOPSIS\n" << Bold(info.name) << " " << Usage(app) << "\n";
    if (!app.get_description().empty()) out << ".SH DESCRIPTION\n" << Roff(app.get_description()) << "\n";
    out << ".SH OPTIONS\n";
    for (const CLI::Option* o : Options(app, false)) WriteOption(out, o);
    for (const CLI::Option* p : Options(app, true)) WriteOption(out, p);
    const std::vector<const CLI::App*> commands = Commands(app);
    if (!commands.empty()) {
        out << ".SH COMMANDS\n";
        for (const CLI::App* command : commands) {
            out << ".SS " << Argument(command->get_name()) << "\n";
            out << Bold(info.name + " " + command->get_name()) << " " << Usage(*command) << "\n.PP\n"
                << Roff(command->get_description()) << "\n";
            for (const CLI::Option* o : Options(*command, false))
                if (o->get_lnames() != std::vector<std::string>{"help"}) WriteOption(out, o);
            for (const CLI::Option* p : Options(*command, true)) WriteOption(out, p);
            if (command->get_footer() != app.get_footer() && !command->get_footer().empty())
                WriteVerbatim(out, command->get_footer());
        }
    }
    if (!app.get_footer().empty()) {
        out << ".SH " << Argument(info.footerHeading) << "\n";
        WriteVerbatim(out, app.get_footer());
    }
    if (!info.seeAlso.empty()) out << ".SH \"SEE ALSO\"\n" << Roff(info.seeAlso) << "\n";
    return out.str();
}

std::string BashCompletion(const CLI::App& app, const std::string& name) {
    std::vector<std::pair<std::string, const CLI::App*>> scopes{{"", &app}};
    for (const CLI::App* command : Commands(app)) scopes.emplace_back(command->get_name(), command);

    std::vector<std::string> valueOptions, commandWords, commandNames;
    for (const CLI::App* command : Commands(app)) {
        commandWords.push_back(Pattern("", command->get_name()));
        commandNames.push_back(command->get_name());
    }
    std::ostringstream values, options, positionals;
    for (const auto& [scope, scopeApp] : scopes) {
        std::vector<std::string> names, numeric, files;
        for (const CLI::Option* o : Options(*scopeApp, false)) {
            for (const std::string& n : OptionNames(o)) names.push_back(n);
            if (!TakesValue(o)) continue;
            std::vector<std::string> patterns;
            for (const std::string& n : OptionNames(o)) patterns.push_back(Pattern(scope, n));
            valueOptions.insert(valueOptions.end(), patterns.begin(), patterns.end());
            const std::vector<std::string> choices = Choices(o);
            if (!choices.empty()) {
                values << "        " << Alternatives(patterns) << ") COMPREPLY=($(compgen -W "
                       << Words(choices) << " -- \"$cur\")) ;;\n";
                continue;
            }
            std::vector<std::string>& kind = Numeric(o) ? numeric : files;
            kind.insert(kind.end(), patterns.begin(), patterns.end());
        }
        if (!numeric.empty()) values << "        " << Alternatives(numeric) << ") COMPREPLY=() ;;\n";
        if (!files.empty())
            values << "        " << Alternatives(files) << ") COMPREPLY=($(compgen -f -- \"$cur\")) ;;\n";
        options << "                    " << Quoted(scope) << ") COMPREPLY=($(compgen -W " << Words(names)
                << " -- \"$cur\")) ;;\n";
        int position = 0;
        for (const CLI::Option* p : Options(*scopeApp, true)) {
            if (const std::vector<std::string> choices = Choices(p); !choices.empty())
                positionals << "                " << Quoted(scope + " " + std::to_string(position))
                            << ") COMPREPLY=($(compgen -W " << Words(choices) << " -- \"$cur\")) ;;\n";
            ++position;
        }
    }
    if (!commandNames.empty())
        positionals << "                \" 0\") COMPREPLY=($(compgen -W " << Words(commandNames)
                    << " -- \"$cur\")) ;;\n";

    std::string function = "_" + name;
    for (char& c : function)
        if (c == '-') c = '_';
    std::ostringstream out;
    out << "# bash completion for " << name << ", generated from its command-line definition.\n"
        << function << "() {\n"
        << "    local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
        << "    local scope=\"\" position=0 word i\n"
        << "    # The command typed so far, and how many positional words it has; option values are "
           "skipped.\n"
        << "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
        << "        word=\"${COMP_WORDS[i]}\"\n"
        << "        case \"$scope $word\" in\n";
    if (!valueOptions.empty()) out << "            " << Alternatives(valueOptions) << ") ((i++)) ;;\n";
    if (!commandWords.empty())
        out << "            " << Alternatives(commandWords) << ") scope=\"$word\" ;;\n";
    out << "            *\" -\"*) ;;\n"
        << "            *) ((position++)) ;;\n"
        << "        esac\n"
        << "    done\n"
        << "    case \"$scope $prev\" in\n"
        << values.str() << "        *)\n"
        << "            if [[ $cur == -* ]]; then\n"
        << "                case \"$scope\" in\n"
        << options.str() << "                esac\n"
        << "                return\n"
        << "            fi\n"
        << "            case \"$scope $position\" in\n"
        << positionals.str() << "                *) COMPREPLY=($(compgen -f -- \"$cur\")) ;;\n"
        << "            esac\n"
        << "            ;;\n"
        << "    esac\n"
        << "}\n"
        << "complete -o filenames -F " << function << " " << name << "\n";
    return out.str();
}

void ShowDefaults(CLI::App& app) {
    const auto optional = [](CLI::Option* o) { return TakesValue(o) && !o->get_required(); };
    for (CLI::Option* option : app.get_options(optional)) {
        option->capture_default_str();
        if (option->get_default_str() == "[]") option->default_str("");  // an empty list is no default
    }
    for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) ShowDefaults(*command);
}

void AddDocumentationFlags(CLI::App& app, ManPageInfo info) {
    app.add_flag_callback("--man-page",
                          [&app, info] {
                              std::cout << ManPage(app, info);
                              throw CLI::Success();
                          })
        ->group("")
        ->trigger_on_parse();
    app.add_flag_callback("--bash-completion",
                          [&app, name = info.name] {
                              std::cout << BashCompletion(app, name);
                              throw CLI::Success();
                          })
        ->group("")
        ->trigger_on_parse();
}

}  // namespace zelvik_cli
