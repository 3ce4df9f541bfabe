// The manual page and bash completion written from a command-line definition: what roff renders, and what
// bash offers at each point of a command line.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "CliDocs.h"

namespace {

namespace fs = std::filesystem;

// A small program with what the real ones have: a flag, a value with a range, a value with choices, a
// hidden option, subcommands with optional, required and choice positionals, and a footer whose second
// line starts with a quote (a control character to roff).
class CliDocs : public ::testing::Test {
protected:
    void SetUp() override {
        app_.footer("Faults: write commands such as\n'unplug 1' to the control file.");
        app_.add_flag("-v,--verbose", verbose_, "say more");
        app_.add_option("-c,--count", count_, "how many cameras")->check(CLI::Range(1, 4));
        app_.add_option("--mode", mode_, "how to run")->check(CLI::IsMember({"fast", "slow"}));
        app_.add_option("--secret", secret_, "not for users")->group("");
        auto* snap = app_.add_subcommand("snap", "take one picture");
        snap->add_option("file", file_, "output file");
        snap->add_option("--quality", quality_, "JPEG quality")->check(CLI::IsMember({"high", "low"}));
        auto* reg = app_.add_subcommand("reg", "read a register");
        reg->add_option("address", address_, "register address")->required();
        reg->add_option("bank", bank_, "which bank")->check(CLI::IsMember({"a", "b"}));
        zelvik_cli::ShowDefaults(app_);

        char pattern[] = "/tmp/zelvik-clidocs-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // Runs `command` in the test's directory; its standard output (standard error goes to `errors`).
    std::string Shell(const std::string& command, std::string* errors = nullptr) const {
        const fs::path out = dir_ / "out", err = dir_ / "err";
        const int status = std::system(
            ("cd '" + dir_.string() + "' && " + command + " >'" + out.string() + "' 2>'" + err.string() + "'")
                .c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << "\n" << Slurp(err);
        if (errors) *errors = Slurp(err);
        return Slurp(out);
    }
    static std::string Slurp(const fs::path& file) {
        std::ifstream in(file);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void Write(const std::string& name, const std::string& text) const { std::ofstream(dir_ / name) << text; }

    CLI::App app_{"Frobs the cameras."};
    bool verbose_ = false;
    int count_ = 2, address_ = 0;
    std::string mode_ = "fast", secret_, file_, quality_ = "high", bank_;
    fs::path dir_;
};

TEST_F(CliDocs, ManPageRendersWithoutWarningsAndShowsWhatHelpShows) {
    const std::string page =
        zelvik_cli::ManPage(app_, {"frob", "9.8.7", "frob the cameras", "NOTES", "zelvik(1)"});
    Write("frob.1", page);
    std::string warnings;
    const std::string text = Shell("MANWIDTH=200 groff -man -Tutf8 -ww frob.1 | col -b", &warnings);
    EXPECT_EQ(warnings, "");

    // Hyphens are minus signs in the source, so that the options can be searched for and copied.
    EXPECT_NE(page.find("\\fB\\-c\\fR, \\fB\\-\\-count\\fR \\fIINT:INT in [1 \\- 4]\\fR"), std::string::npos)
        << page;
    for (const char* shown :
         {"frob - frob the cameras", "frob [OPTIONS] COMMAND ...", "how many cameras (default: 2)",
          "how to run (default: fast)", "frob snap [OPTIONS] [file]", "frob reg [OPTIONS] address [bank]",
          "register address (required)", "'unplug 1' to the control file.", "SEE ALSO", "frob 9.8.7"}) {
        SCOPED_TRACE(shown);
        EXPECT_NE(text.find(shown), std::string::npos) << text;
    }
    EXPECT_EQ(text.find("secret"), std::string::npos);
    EXPECT_EQ(text.find("(default: 0)"), std::string::npos) << "a required value has no default";
}

TEST_F(CliDocs, BashCompletionOffersWhatFitsWhereTheCursorIs) {
    Write("frob.bash", zelvik_cli::BashCompletion(app_, "frob"));
    Write("picture.png", "");
    struct Case {
        std::vector<std::string> words;  // the command line, the last word being completed
        std::string offered;             // sorted, space-separated
    } cases[] = {
        {{"frob", ""}, "reg snap"},
        {{"frob", "-v", "s"}, "snap"},
        {{"frob", "-c", "3", ""}, "reg snap"},  // an option's value is no command
        {{"frob", "--mode", ""}, "fast slow"},
        {{"frob", "--count", ""}, ""},  // a number: nothing to offer
        {{"frob", "--"}, "--count --help --mode --verbose"},
        {{"frob", "snap", "--"}, "--help --quality"},
        {{"frob", "snap", "--quality", "l"}, "low"},
        {{"frob", "snap", "pic"}, "picture.png"},
        {{"frob", "reg", "0x20", ""}, "a b"},  // the second positional's choices
        {{"frob", "reg", "pic"}, "picture.png"},
    };
    for (const Case& c : cases) {
        std::string words, line;
        for (const std::string& w : c.words) words += " '" + w + "'";
        for (const std::string& w : c.words) line += w + " ";
        SCOPED_TRACE(line);
        const std::string out = Shell(
            "bash -c 'source frob.bash; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _frob; "
            "printf \"%s\\n\" \"${COMPREPLY[@]}\"' sh" +
            words);
        std::istringstream in(out);
        std::vector<std::string> offered;
        for (std::string w; in >> w;) offered.push_back(w);
        std::sort(offered.begin(), offered.end());
        std::string joined;
        for (const std::string& w : offered) joined += (joined.empty() ? "" : " ") + w;
        EXPECT_EQ(joined, c.offered);
    }
}

TEST_F(CliDocs, DocumentationFlagsPrintAndEndParsingWithSuccess) {
    app_.require_subcommand(1);  // as the tool: the flags work without a command
    zelvik_cli::AddDocumentationFlags(app_, {"frob", "1.0", "frob the cameras", "NOTES", ""});
    for (const char* flag : {"--man-page", "--bash-completion"}) {
        SCOPED_TRACE(flag);
        const char* argv[] = {"frob", flag};
        testing::internal::CaptureStdout();
        int rc = -1;
        try {
            app_.parse(2, const_cast<char**>(argv));
        } catch (const CLI::ParseError& e) {
            rc = app_.exit(e);
        }
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(rc, 0);
        EXPECT_NE(out.find(flag == std::string("--man-page") ? ".TH FROB 1"
                                                             : "complete -o filenames -F _frob frob"),
                  std::string::npos)
            << out;
        EXPECT_EQ(out.find("man-page"), std::string::npos) << "the flags themselves are hidden";
        EXPECT_EQ(out.find("man\\-page"), std::string::npos) << "the flags themselves are hidden";
    }
}

}  // namespace
