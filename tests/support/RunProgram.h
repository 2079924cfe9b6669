#pragma once

#include <string>
#include <vector>

namespace pellora::test {

struct ProgramResult {
    int Status = -1; // exit status, 128 + signal when killed, -1 when it could not start
    std::string Out;
    std::string Err;
};

// Runs a program with the test's environment (its own HOME and XDG folders) and collects
// its exit status and output.
ProgramResult RunProgram(const std::string& program, std::vector<std::string> args);

} // namespace pellora::test
