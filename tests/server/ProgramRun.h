#pragma once

#include "support/TempDir.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace pellora::test {

// Where the build put the exchange programs.
inline std::string CgiProgram(const std::string& name) {
    return std::string(PELLORA_BUILD_DIR) + "/server/cgi-bin/pellora/" + name;
}
inline std::string AdminProgram() {
    return std::string(PELLORA_BUILD_DIR) + "/bin/pellora-exchange";
}

struct ProgramResult {
    int ExitStatus = -1; // -1: killed or did not end in time
    std::string Out;
    std::string Err;
};

// Runs a program with exactly the given environment (as a web server starts a CGI program)
// and the given standard input; stops it after 30 seconds at the latest.
inline ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::map<std::string, std::string>& environment,
                                const std::string& input = "") {
    TempDir work;
    PutFile(work / "in", input);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, (work / "in").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (work / "out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (work / "err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> argStrings = {program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(argStrings.size() + 1);
    for (std::string& arg : argStrings)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    envStrings.reserve(environment.size());
    for (const auto& [name, value] : environment) {
        std::string entry = name;
        entry += '=';
        entry += value;
        envStrings.push_back(std::move(entry));
    }
    std::vector<char*> envp;
    envp.reserve(envStrings.size() + 1);
    for (std::string& entry : envStrings)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + program);

    ProgramResult result;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (status != -1 && WIFEXITED(status))
        result.ExitStatus = WEXITSTATUS(status);
    result.Out = GetFile(work / "out");
    result.Err = GetFile(work / "err");
    return result;
}

} // namespace pellora::test
