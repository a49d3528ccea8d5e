// Running a Windows program on POSIX systems: under Wine, in the prefix the installer works on.
// "wine PROGRAM ARGS..." is started with posix_spawnp (which finds wine in $PATH and returns why
// it could not start it, so that a missing Wine is told apart from a program that failed) in a
// process group of its own, its standard output and error share one pipe that is read while it
// runs, and once it ended "wineserver -w" waits for the prefix's server, which writes the registry
// back when it ends.
// Every program started here is on the interrupt's list of running children (InterruptHolds.h)
// while it runs; past its time limit, or on an interrupt, its whole group is killed.
//
// Wine's own status for a program file it cannot open (wine: failed to open "C:\x.exe":
// c0000135) is 53; it comes back as the exit code of a started program. The pipe's end comes when
// the program ends: Wine's own services (wineserver, services.exe) do not inherit it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "Platform/ChildProcess.h"
#include "Platform/FileSystem.h"
#include "Platform/InterruptHolds.h"
#include "Platform/OutputTail.h"
#include "Platform/Posix/WinePrefix.h"

extern char** environ;

namespace quillet::platform {

namespace {

using Clock = std::chrono::steady_clock;

// How long the prefix's server may take to end after a program; past it, it is told to end.
constexpr std::chrono::seconds WINESERVER_WAIT{20};
// How long "wineserver -k" may take.
constexpr std::chrono::seconds WINESERVER_KILL_WAIT{5};
// How often a wait for a child looks whether it ended.
constexpr int EXIT_POLL_MILLISECONDS = 20;

// One file descriptor, closed when its owner goes.
class Descriptor {
public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Close(); }
  int Get() const { return fd_; }
  void Close() {
    if (fd_ >= 0) {
      ::close(std::exchange(fd_, -1));
    }
  }

private:
  int fd_ = -1;
};

// Both ends of a new pipe, closed on exec: only the descriptors a child is handed with dup2 reach
// it, also when another thread starts a program meanwhile.
struct Pipe {
  Descriptor read;
  Descriptor write;
  bool Open() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
      return false;
    }
    read = Descriptor(ends[0]);
    write = Descriptor(ends[1]);
    return true;
  }
};

std::string ErrorText(int error) {
  return std::strerror(error);
}

// The program of one of Wine's tools: $VARIABLE when set, else `name`. posix_spawnp looks a name
// without "/" up in the folders of $PATH.
std::string ToolName(const char* variable, const char* name) {
  const char* set = std::getenv(variable);
  return set != nullptr && *set != '\0' ? set : name;
}

// Our environment with the prefix the installer works on, and Wine's debug output off unless the
// user chose what it shows.
std::vector<std::string> WineEnvironment() {
  std::vector<std::string> environment;
  bool debugChosen = false;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text = *entry;
    if (text.starts_with("WINEPREFIX=")) {
      continue;
    }
    debugChosen = debugChosen || text.starts_with("WINEDEBUG=");
    environment.emplace_back(text);
  }
  environment.push_back("WINEPREFIX=" + posix::WinePrefix());
  if (!debugChosen) {
    environment.emplace_back("WINEDEBUG=-all");
  }
  return environment;
}

std::vector<char*> NullEnded(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

struct Started {
  pid_t pid = -1;
  std::string problem;
};

// One of posix_spawn's settings objects, released when its owner goes.
template <typename T, int (*Init)(T*), int (*Destroy)(T*)> struct SpawnSetting {
  SpawnSetting() = default;
  SpawnSetting(const SpawnSetting&) = delete;
  SpawnSetting& operator=(const SpawnSetting&) = delete;
  ~SpawnSetting() {
    if (error == 0) {
      Destroy(&value);
    }
  }
  T value;
  int error = Init(&value);
};
using FileActions = SpawnSetting<posix_spawn_file_actions_t, ::posix_spawn_file_actions_init,
                                 ::posix_spawn_file_actions_destroy>;
using SpawnAttributes =
    SpawnSetting<posix_spawnattr_t, ::posix_spawnattr_init, ::posix_spawnattr_destroy>;

// Sets the child's standard streams, folder, signals and group up for Start; the first error of
// the posix_spawn calls, which return it rather than set errno. The installer blocks signals while
// it commits files, and ignores SIGPIPE: the program starts with neither. A group of its own,
// which a time limit or an interrupt kills whole, and which the terminal's Ctrl+C does not reach:
// the installer's interrupt decides.
int Prepare(posix_spawn_file_actions_t* actions, posix_spawnattr_t* attributes, int output,
            const std::string& folder) {
  sigset_t none;
  sigset_t standard;
  ::sigemptyset(&none);
  ::sigemptyset(&standard);
  ::sigaddset(&standard, SIGPIPE);
  const short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  for (const int result : {
           ::posix_spawnattr_setflags(attributes, flags),
           ::posix_spawnattr_setpgroup(attributes, 0),
           ::posix_spawnattr_setsigmask(attributes, &none),
           ::posix_spawnattr_setsigdefault(attributes, &standard),
           ::posix_spawn_file_actions_addopen(actions, 0, "/dev/null", O_RDONLY, 0),
           output >= 0 ? ::posix_spawn_file_actions_adddup2(actions, output, 1)
                       : ::posix_spawn_file_actions_addopen(actions, 1, "/dev/null", O_WRONLY, 0),
           ::posix_spawn_file_actions_adddup2(actions, 1, 2),
           folder.empty() ? 0 : ::posix_spawn_file_actions_addchdir_np(actions, folder.c_str()),
       }) {
    if (result != 0) {
      return result;
    }
  }
  return 0;
}

// Whether the child could enter `folder`: posix_spawnp's error alone does not tell a working folder
// it could not enter from a program it could not start.
bool CanEnter(const std::string& folder) {
  struct stat info {};
  return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
         ::access(folder.c_str(), X_OK) == 0;
}

// Starts `argv` (argv[0] a program name looked up in $PATH, or a path) with `environment`, no
// input, standard output and error onto `output` (onto /dev/null when it is negative), in the
// native folder `folder` unless it is empty. `missing` is the problem when $PATH has no such
// program.
Started Start(std::vector<std::string> argv, std::vector<std::string> environment, int output,
              const std::string& folder, const std::string& missing) {
  const std::vector<char*> arguments = NullEnded(argv);
  const std::vector<char*> variables = NullEnded(environment);
  FileActions actions;
  SpawnAttributes attributes;
  int prepared = actions.error != 0 ? actions.error : attributes.error;
  if (prepared == 0) {
    prepared = Prepare(&actions.value, &attributes.value, output, folder);
  }
  if (prepared != 0) {
    return {-1, "cannot prepare the start of " + argv[0] + ": " + ErrorText(prepared)};
  }
  // The child has run the file actions and execve before this returns, and says why it failed.
  pid_t pid = -1;
  const int error = ::posix_spawnp(&pid, arguments[0], &actions.value, &attributes.value,
                                   arguments.data(), variables.data());
  if (error == 0) {
    return {pid, {}};
  }
  if (!folder.empty() && !CanEnter(folder)) {
    return {-1, "cannot enter the working folder " + folder + ": " + ErrorText(error)};
  }
  if (error == ENOENT && argv[0].find('/') == std::string::npos) {
    return {-1, missing};
  }
  return {-1, "cannot start " + argv[0] + ": " + ErrorText(error)};
}

// How a started child ended.
struct Ended {
  bool timedOut = false; // its group was killed at the deadline
  int status = 0;        // waitpid's status
  int readError = 0;     // the errno of a failed read of its output; 0 when none
};

// Reads `output` (when not negative) and waits for `pid` to end, before `deadline`; past it, the
// child's group is killed. The program's end is the end of the run: what it wrote is drained
// then, and processes it started that hold the pipe on (Wine's services, started by the first
// program of a prefix, do) are not waited for. Every piece read goes to `tail` and `sink`.
Ended RunToEnd(pid_t pid, int output, Clock::time_point deadline, OutputTail* tail,
               const std::function<void(std::string_view)>& sink) {
  Ended ended;
  bool open = output >= 0;
  char buffer[65536];
  // One read of what the pipe holds; false once it has nothing more now (or ever).
  const auto readSome = [&](int waitMilliseconds) {
    pollfd watched{output, POLLIN, 0};
    const int ready = ::poll(&watched, open ? 1 : 0, waitMilliseconds);
    if (ready < 0 && errno != EINTR) {
      ended.readError = errno;
      open = false;
    }
    if (ready <= 0 || !open) {
      return false;
    }
    const ssize_t n = ::read(output, buffer, sizeof buffer);
    if (n > 0) {
      const std::string_view piece(buffer, static_cast<std::size_t>(n));
      if (tail != nullptr) {
        tail->Add(piece);
      }
      if (sink) {
        sink(piece);
      }
      return true;
    }
    if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
      ended.readError = n == 0 ? 0 : errno;
      open = false;
    }
    return false;
  };
  for (;;) {
    const pid_t got = ::waitpid(pid, &ended.status, WNOHANG);
    if (got == pid || (got < 0 && errno != EINTR)) {
      while (open && readSome(0)) {
      }
      return ended;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      break;
    }
    // The output's data wake the wait; the program's end is looked for now and then.
    readSome(static_cast<int>(std::min<long long>(left.count(), EXIT_POLL_MILLISECONDS)));
  }
  ended.timedOut = true;
  ::kill(-pid, SIGKILL); // the child and every process it started
  while (::waitpid(pid, &ended.status, 0) < 0 && errno == EINTR) {
  }
  return ended;
}

// A started child's exit status, or -1 with `problem` set.
int ExitStatus(const Ended& ended, const std::string& name, std::string& problem) {
  if (WIFEXITED(ended.status)) {
    return WEXITSTATUS(ended.status);
  }
  problem = name + " ended by signal " + std::to_string(WTERMSIG(ended.status));
  return -1;
}

// Runs the prefix's wineserver with `argument` and no input or output, waiting for it at most
// `limit`; false when it did not end in time (it was killed) or could not be started, with
// `problem` set.
bool RunWineserver(const std::string& argument, const std::vector<std::string>& environment,
                   std::chrono::seconds limit, std::string& problem) {
  const std::string server = ToolName("WINESERVER", "wineserver");
  const Started started =
      Start({server, argument}, environment, -1, {},
            "wineserver was not found ($WINESERVER or PATH): the prefix's registry may still be "
            "held");
  if (started.pid < 0) {
    problem = started.problem;
    return false;
  }
  const holds::RunningChild running(started.pid);
  const Ended ended = RunToEnd(started.pid, -1, Clock::now() + limit, nullptr, {});
  const std::string name = server + " " + argument;
  if (ended.timedOut) {
    problem = name + " did not end within " + std::to_string(limit.count()) + " s";
    return false;
  }
  const int status = ExitStatus(ended, name, problem);
  if (problem.empty() && status != 0) {
    problem = name + " ended with status " + std::to_string(status);
  }
  return true;
}

// Waits until no wineserver serves the prefix any more, a short while; then tells it to end. A
// problem text when that cannot be known.
std::string WaitForWineserver(const std::vector<std::string>& environment) {
  std::string problem;
  if (!RunWineserver("-w", environment, WINESERVER_WAIT, problem) &&
      problem.find("did not end") != std::string::npos) {
    std::string killProblem;
    RunWineserver("-k", environment, WINESERVER_KILL_WAIT, killProblem);
    problem += killProblem.empty() ? ", and was told to end" : "; " + killProblem;
  }
  return problem;
}

ChildResult RunOnce(std::string_view program, const std::vector<std::string>& arguments,
                    std::string_view workingFolder, const ChildOptions& options) {
  ChildResult result;
  const std::string wine = ToolName("WINELOADER", "wine");
  std::vector<std::string> argv = {wine, std::string(program)};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const std::vector<std::string> environment = WineEnvironment();
  const std::string folder = workingFolder.empty() ? std::string() : NativePath(workingFolder);

  Pipe output;
  if (!output.Open()) {
    result.problem =
        "cannot make a pipe for the output of " + std::string(program) + ": " + ErrorText(errno);
    return result;
  }
  const Clock::time_point deadline =
      options.timeLimit.count() > 0 ? Clock::now() + options.timeLimit : Clock::time_point::max();
  const Started started =
      Start(std::move(argv), environment, output.write.Get(), folder,
            "wine was not found ($WINELOADER or PATH): it runs " + std::string(program));
  output.write.Close(); // the end comes when the child's copies close
  if (started.pid < 0) {
    result.problem = started.problem;
    return result;
  }
  result.started = true;
  OutputTail tail(options.tailSize);
  Ended ended;
  {
    const holds::RunningChild running(started.pid);
    ended = RunToEnd(started.pid, output.read.Get(), deadline, &tail, options.sink);
  }
  output.read.Close();
  result.output = tail.Take();
  result.outputSize = tail.Total();
  if (ended.timedOut) {
    result.timedOut = true;
    result.problem = std::string(program) + " did not end within " +
                     std::to_string(options.timeLimit.count()) + " s and was stopped";
  } else {
    result.exitCode = ExitStatus(ended, wine + " " + std::string(program), result.problem);
    if (ended.readError != 0 && result.problem.empty()) {
      result.problem =
          "cannot read the output of " + std::string(program) + ": " + ErrorText(ended.readError);
    }
  }
  const std::string serverProblem = WaitForWineserver(environment);
  if (result.problem.empty()) {
    result.problem = serverProblem;
  }
  return result;
}

} // namespace

ChildResult RunWindowsProgram(std::string_view program, const std::vector<std::string>& arguments,
                              std::string_view workingFolder, const ChildOptions& options) {
  ChildResult result = RunOnce(program, arguments, workingFolder, options);
  // Now and then Wine fails to start a program without a word (ended by a signal, or a failure
  // status with no output), while the server of the run before it still shuts down: once more
  // then, which a build of a package bears.
  if (result.started && !result.timedOut && result.outputSize == 0 && result.exitCode != 0) {
    result = RunOnce(program, arguments, workingFolder, options);
  }
  return result;
}

bool ProgramRunning(const std::vector<std::string>& /*programs*/) {
  return false; // the registry's own check finds a running Wine program of the prefix
}

} // namespace quillet::platform
