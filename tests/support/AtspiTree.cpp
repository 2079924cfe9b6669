#include "support/AtspiTree.h"

#include "support/RunProgram.h"

#include <algorithm>
#include <sstream>

namespace pellora::test {

std::string AtspiTree::Node(const std::string& role, const std::string& name) const {
    const std::string wanted = role + " \"" + name + "\" [";
    for (const std::string& line : Lines)
        if (line.find(wanted) != std::string::npos &&
            line.find_first_not_of(' ') == line.find(wanted))
            return line;
    return {};
}

std::vector<std::string> AtspiTree::States(const std::string& role, const std::string& name) const {
    const std::string line = Node(role, name);
    std::vector<std::string> states;
    if (line.empty())
        return states;
    const std::size_t open =
        line.find(role + " \"" + name + "\" [") + role.size() + name.size() + 5;
    const std::size_t close = line.find(']', open);
    std::stringstream list(line.substr(open, close - open));
    std::string state;
    while (std::getline(list, state, ','))
        states.push_back(state);
    return states;
}

bool AtspiTree::Has(const std::string& role, const std::string& name,
                    const std::string& state) const {
    const auto states = States(role, name);
    return std::find(states.begin(), states.end(), state) != states.end();
}

AtspiTree ReadAtspiTree(const std::vector<std::string>& args) {
    std::vector<std::string> all{PELLORA_SOURCE_DIR "/tests/support/atspi-tree.py"};
    all.insert(all.end(), args.begin(), args.end());
    const ProgramResult result = RunProgram("/usr/bin/python3", all);
    AtspiTree tree;
    tree.Status = result.Status;
    tree.Err = result.Err;
    std::stringstream out(result.Out);
    for (std::string line; std::getline(out, line);)
        tree.Lines.push_back(line);
    return tree;
}

} // namespace pellora::test
