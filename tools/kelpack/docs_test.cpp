// The manual page and the README list each command's options as its CommandSpec
// (options.h) has them, headed as its help heads them: an option added,
// renamed or dropped in a CommandSpec fails here until both say the same.
#include "cli.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>

#include <gtest/gtest.h>

namespace kelpack {
namespace {

using Lists = std::map<std::string, std::vector<std::string>>;

std::vector<std::string> Lines(const std::string& name) {
    std::ifstream in(std::string(KELPACK_DOCS_DIR) + "/" + name);
    EXPECT_TRUE(in.is_open()) << name;
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A macro line of the manual page as it reads: its arguments, quoted or
// not, run together (joined by spaces for .B and .I), without font changes.
std::string ManText(const std::string& line) {
    const bool joined = line.rfind(".B ", 0) == 0 || line.rfind(".I ", 0) == 0;
    std::string text;
    for (std::size_t at = line.find(' '); at < line.size();) {
        at = line.find_first_not_of(' ', at);
        if (at == std::string::npos) break;
        const bool quoted = line[at] == '"';
        std::size_t end = quoted ? line.find('"', at + 1) : line.find(' ', at);
        if (end == std::string::npos) end = line.size();
        text += (joined && !text.empty() ? " " : "") + line.substr(at + quoted, end - at - quoted);
        at = end + quoted;
    }
    text = std::regex_replace(text, std::regex(R"(\\f[BIPR])"), "");
    text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
    return std::regex_replace(text, std::regex(R"(\\e)"), "\\");
}

// Each command's .TP entries in its section (.SS "kelpack COMMAND ...").
Lists ManualLists() {
    const std::vector<std::string> lines = Lines("kelpack.1.in");
    const std::regex section(R"(^\.SS "kelpack ([a-z]+))");
    Lists lists;
    std::string command;
    std::smatch m;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (std::regex_search(lines[i], m, section)) command = m[1];
        else if (lines[i].rfind(".S", 0) == 0) command.clear();
        else if (lines[i] == ".TP" && !command.empty() && i + 1 < lines.size()) lists[command].push_back(ManText(lines[i + 1]));
    }
    return lists;
}

// The first cell of each row of a table headed "| `COMMAND` option |".
Lists ReadmeLists() {
    const std::regex table(R"(^\| `([a-z]+)` option \|)"), row(R"(^\| `(.*?)` \|)");
    Lists lists;
    std::string command;
    std::smatch m;
    for (const std::string& line : Lines("README.md")) {
        if (std::regex_search(line, m, table)) command = m[1];
        else if (line.rfind("|", 0) != 0) command.clear();
        else if (!command.empty() && std::regex_search(line, m, row))
            lists[command].push_back(std::regex_replace(m[1].str(), std::regex(R"(\\\|)"), "|"));
    }
    return lists;
}

std::vector<std::string> Sorted(std::vector<std::string> list) {
    std::sort(list.begin(), list.end());
    return list;
}

// The documentation's lists against the specs', command by command; the
// manual page also lists -h, --help.
void ExpectAsSpecified(Lists documented, bool withHelp) {
    for (const auto& command : DocumentedOptions()) {
        std::vector<std::string> specified = command.second;
        if (withHelp) specified.push_back("-h, --help");
        EXPECT_EQ(Sorted(documented[command.first]), Sorted(specified)) << "kelpack " << command.first;
        documented.erase(command.first);
    }
    for (const auto& unknown : documented) ADD_FAILURE() << "options listed for no command: kelpack " << unknown.first;
}

TEST(Documentation, TheManualPageListsEachCommandsOptions) { ExpectAsSpecified(ManualLists(), true); }

TEST(Documentation, TheReadmeListsEachCommandsOptions) { ExpectAsSpecified(ReadmeLists(), false); }

}  // namespace
}  // namespace kelpack
