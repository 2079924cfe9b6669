#pragma once

#include <string>
#include <vector>

namespace pellora::test {

// The accessible tree tests/support/atspi-tree.py printed, read as a screen reader reads it:
// one line a node, `role "name" [state,state]`.
struct AtspiTree {
    int Status = -1;
    std::vector<std::string> Lines;
    std::string Err;

    // The line of the node with this role and name; empty when there is none.
    std::string Node(const std::string& role, const std::string& name) const;
    // The states of that node, as the helper prints them.
    std::vector<std::string> States(const std::string& role, const std::string& name) const;
    bool Has(const std::string& role, const std::string& name, const std::string& state) const;
};

// Runs tests/support/atspi-tree.py with these arguments (it starts a D-Bus session and an
// accessibility bus of its own) and reads what it printed.
AtspiTree ReadAtspiTree(const std::vector<std::string>& args);

} // namespace pellora::test
