#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "support/TempDir.h"

namespace pellora::test {

// A fresh user for the program: its own home, XDG folders and runtime folder, so that each
// test starts as a first start and cannot meet another test's (or a real user's) copy.
class FreshUser {
public:
    FreshUser();
    const std::string& Home() const { return HomeFolder; }
    std::string DataHome() const { return HomeFolder + ".local/share"; }
    std::string ConfigHome() const { return HomeFolder + ".config"; }
    std::string RuntimeFolder() const { return HomeFolder + "run"; }
    // The files the program keeps for this user.
    std::string PrefsFile() const;
    std::string StateFile() const;
    // "NAME=value" entries: this process's environment with the user's folders in place.
    std::vector<std::string> Environment() const;

private:
    TempDir Dir;
    std::string HomeFolder;
};

// One run of the program, stopped (TERM, then KILL) when the object goes, and killed by
// the kernel should the test process die first.
class PelloraRun {
public:
    // `environment`: "NAME=value" entries added to the user's environment, in place of any
    // of the same name. `wrapper`: a command line the program runs under (strace and the like).
    PelloraRun(const std::string& program, const FreshUser& user, const std::string& logFile,
               const std::vector<std::string>& environment = {},
               const std::vector<std::string>& wrapper = {});
    ~PelloraRun();
    PelloraRun(const PelloraRun&) = delete;
    PelloraRun& operator=(const PelloraRun&) = delete;

    pid_t Pid() const { return Process; }
    // The exit status once it has ended within the time (128 + signal after a signal).
    std::optional<int> WaitExit(std::chrono::milliseconds timeout);
    bool Running();
    void Signal(int signal);

private:
    pid_t Process = -1;
    std::optional<int> Status;
};

// The current test case's folder for screenshots and logs under `root`, made and emptied of
// an earlier run's files; "" when it cannot be made.
std::string CaseOutputFolder(const std::string& root);

// Runs a tool (xdotool and the like) to its end; its exit status, or -1 when it could not
// run or did not end in time (it is then killed).
int RunTool(const std::vector<std::string>& args,
            std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace pellora::test
