#include "e2e/PelloraRun.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "core/PelloraFold.h"
#include "platform/FileUtil.h"

#include <gtest/gtest.h>

extern char** environ;

namespace pellora::test {

namespace {

std::vector<char*> Pointers(std::vector<std::string>& items) {
    std::vector<char*> result;
    for (std::string& item : items)
        result.push_back(item.data());
    result.push_back(nullptr);
    return result;
}

// In the child between fork and exec: it dies with the test process, whatever happens.
void DieWithParent(pid_t parent) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(126);
}

int DecodeStatus(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

} // namespace

FreshUser::FreshUser() : HomeFolder(Dir.Path()) {
    for (const std::string& folder : {ConfigHome(), DataHome(), RuntimeFolder()})
        if (!ForceDirectories(folder))
            throw std::runtime_error("cannot create " + folder);
    ::chmod(RuntimeFolder().c_str(), 0700);
    // The speech engine writes into memory: a test machine has no sound device.
    PutFile(ConfigHome() + "/Harbrook/Pellora 3/Murmur.ini", "[Murmur]\r\nOutput=Memory\r\n");
}

std::string FreshUser::PrefsFile() const {
    return TPellFolders(PELLORA_PROGRAM, DataHome()).PrefsFile();
}

std::string FreshUser::StateFile() const {
    return TPellFolders(PELLORA_PROGRAM, DataHome()).StateFile();
}

std::vector<std::string> FreshUser::Environment() const {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string item(*entry);
        std::size_t equals = item.find('=');
        if (equals != std::string::npos)
            variables[item.substr(0, equals)] = item.substr(equals + 1);
    }
    variables["HOME"] = HomeFolder.substr(0, HomeFolder.size() - 1);
    variables["XDG_DATA_HOME"] = DataHome();
    variables["XDG_CONFIG_HOME"] = ConfigHome();
    variables["XDG_CACHE_HOME"] = HomeFolder + ".cache";
    variables["XDG_STATE_HOME"] = HomeFolder + ".local/state";
    variables["XDG_RUNTIME_DIR"] = RuntimeFolder();
    variables["QT_QPA_PLATFORM"] = "xcb";
    variables.erase("WAYLAND_DISPLAY");
    variables.erase("SESSION_MANAGER");
    std::vector<std::string> result;
    for (const auto& [name, value] : variables)
        result.push_back(name + "=" + value);
    return result;
}

PelloraRun::PelloraRun(const std::string& program, const FreshUser& user,
                       const std::string& logFile, const std::vector<std::string>& environment,
                       const std::vector<std::string>& wrapper) {
    std::vector<std::string> args = wrapper;
    args.push_back(program);
    // The run's own entries take the place of the user's of the same name.
    std::vector<std::string> env;
    auto named = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    for (const std::string& entry : user.Environment()) {
        bool replaced = false;
        for (const std::string& own : environment)
            replaced = replaced || named(own) == named(entry);
        if (!replaced)
            env.push_back(entry);
    }
    env.insert(env.end(), environment.begin(), environment.end());
    auto argv = Pointers(args);
    auto envp = Pointers(env);
    const pid_t parent = ::getpid();
    Process = ::fork();
    if (Process < 0)
        throw std::runtime_error("fork failed");
    if (Process == 0) {
        DieWithParent(parent);
        int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
            ::close(log);
        }
        int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0)
            ::dup2(null, 0);
        ::execve(args.front().c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
}

PelloraRun::~PelloraRun() {
    if (!Running())
        return;
    Signal(SIGTERM);
    if (!WaitExit(std::chrono::seconds(5))) {
        Signal(SIGKILL);
        WaitExit(std::chrono::seconds(5));
    }
}

std::optional<int> PelloraRun::WaitExit(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!Status) {
        int status = 0;
        pid_t done = ::waitpid(Process, &status, WNOHANG);
        if (done == Process)
            Status = DecodeStatus(status);
        else if (done < 0 && errno != EINTR)
            Status = -1;
        else if (std::chrono::steady_clock::now() >= deadline)
            break;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return Status;
}

bool PelloraRun::Running() {
    return Process > 0 && !WaitExit(std::chrono::milliseconds(0));
}

void PelloraRun::Signal(int signal) {
    if (Running())
        ::kill(Process, signal);
}

int RunTool(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
    std::vector<std::string> copy = args;
    auto argv = Pointers(copy);
    const pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        DieWithParent(parent);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return DecodeStatus(status);
        if (done < 0 && errno != EINTR)
            return -1;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string CaseOutputFolder(const std::string& root) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string folder = root + "/" + info->test_suite_name() + "." + info->name() + "/";
    if (!ForceDirectories(folder))
        return {};
    for (const std::string& name : ListFolder(folder))
        ::unlink((folder + name).c_str());
    return folder;
}

} // namespace pellora::test
