// Running the built programs with POSIX calls (posix_spawn, pipes, poll).
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "tests/support/TestSupport.h"

extern char** environ;

namespace quillet::test {

namespace {

std::vector<std::string> BuildEnvironment(const ProgramOptions& options) {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    const auto eq = entry.find('=');
    if (eq != std::string::npos) {
      env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
  }
  for (const auto& [name, value] : options.environment) {
    if (value) {
      env[name] = *value;
    } else {
      env.erase(name);
    }
  }
  std::vector<std::string> out;
  for (const auto& [name, value] : env) {
    out.push_back(name + "=" + value);
  }
  return out;
}

// Starts the program with a pipe on its standard output and, when `pipeInput`, on its standard
// input (otherwise /dev/null). Gives the child and our ends of the pipes (-1 where none).
struct Child {
  pid_t pid = -1;
  int in = -1;
  int out = -1;
};

Child StartChild(const std::string& program, const std::vector<std::string>& arguments,
                 const ProgramOptions& options, bool pipeInput) {
  // A child that ends before reading all its input must not take the test down with SIGPIPE.
  static const bool sigpipeIgnored = (std::signal(SIGPIPE, SIG_IGN), true);
  (void)sigpipeIgnored;
  int outPipe[2];
  int inPipe[2] = {-1, -1};
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || (pipeInput && ::pipe2(inPipe, O_CLOEXEC) != 0)) {
    throw std::runtime_error("pipe failed");
  }

  if (pipeInput && options.nonBlockingInput) {
    ::fcntl(inPipe[0], F_SETFL, ::fcntl(inPipe[0], F_GETFL) | O_NONBLOCK);
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Closing a descriptor that is not open would make the spawn fail.
  auto closeInChild = [&actions](int fd) {
    if (::fcntl(fd, F_GETFD) != -1) {
      posix_spawn_file_actions_addclose(&actions, fd);
    }
  };
  if (options.closeInput) {
    closeInChild(0);
  } else if (pipeInput) {
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  if (options.closeOutput) {
    closeInChild(1);
  } else {
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  }
  if (options.workingDirectory) {
    posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory->c_str());
  }

  std::vector<std::string> argvStrings{program};
  argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& a : argvStrings) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  auto envStrings = BuildEnvironment(options);
  std::vector<char*> envp;
  for (auto& e : envStrings) {
    envp.push_back(e.data());
  }
  envp.push_back(nullptr);

  Child child;
  const int rc =
      posix_spawn(&child.pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  if (pipeInput) {
    ::close(inPipe[0]);
  }
  child.in = inPipe[1];
  child.out = outPipe[0];
  if (rc != 0) {
    ::close(child.out);
    if (child.in >= 0) {
      ::close(child.in);
    }
    throw std::runtime_error("cannot start " + program);
  }
  return child;
}

int WaitForExit(pid_t pid) {
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

} // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const ProgramOptions& options) {
  const Child child = StartChild(program, arguments, options, options.input.has_value());

  // Feed standard input from a thread, so a child that writes much before reading cannot block us.
  std::thread feeder;
  if (options.input) {
    feeder = std::thread([fd = child.in, data = *options.input] {
      std::size_t done = 0;
      while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) {
          continue;
        }
        if (n <= 0) {
          break;
        }
        done += static_cast<std::size_t>(n);
      }
      ::close(fd);
    });
  }

  ProgramResult result;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(child.out, buffer, sizeof buffer);
    if (n > 0) {
      result.output.append(buffer, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  ::close(child.out);
  if (feeder.joinable()) {
    feeder.join();
  }
  result.status = WaitForExit(child.pid);
  return result;
}

} // namespace quillet::test

namespace quillet::test {

InteractiveProgram::InteractiveProgram(const std::string& program,
                                       const std::vector<std::string>& arguments,
                                       const ProgramOptions& options) {
  const Child child = StartChild(program, arguments, options, true);
  pid_ = child.pid;
  in_ = child.in;
  out_ = child.out;
}

InteractiveProgram::~InteractiveProgram() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
  }
  Finish(); // closes the pipes also when the program was waited for already
}

bool InteractiveProgram::ReadSome(int timeoutMs) {
  pollfd pfd{out_, POLLIN, 0};
  const int ready = ::poll(&pfd, 1, timeoutMs);
  if (ready <= 0) {
    return ready == 0; // a timeout is not the end of the output
  }
  char buffer[4096];
  const ssize_t n = ::read(out_, buffer, sizeof buffer);
  if (n <= 0) {
    return false;
  }
  output_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

bool InteractiveProgram::WaitForOutput(const std::string& text, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (output_.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline || !ReadSome(100)) {
      return output_.find(text) != std::string::npos;
    }
  }
  return true;
}

void InteractiveProgram::Write(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(in_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      break;
    }
    done += static_cast<std::size_t>(n);
  }
}

void InteractiveProgram::CloseInput() {
  if (in_ >= 0) {
    ::close(in_);
    in_ = -1;
  }
}

bool InteractiveProgram::WaitForFullOutputPipe(int seconds) {
  const int capacity = ::fcntl(out_, F_GETPIPE_SZ);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    int queued = 0;
    if (::ioctl(out_, FIONREAD, &queued) != 0) {
      return false;
    }
    if (queued >= capacity) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void InteractiveProgram::Signal(int signal) {
  if (pid_ > 0) {
    ::kill(pid_, signal);
  }
}

std::optional<int> InteractiveProgram::WaitForExitOnly(int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (pid_ > 0) {
    int wstatus = 0;
    const pid_t done = ::waitpid(pid_, &wstatus, WNOHANG);
    if (done == pid_) {
      status_ = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
      killedBy_ = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
      pid_ = -1;
    } else if (std::chrono::steady_clock::now() > deadline) {
      break;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  return status_;
}

ProgramResult InteractiveProgram::Finish() {
  CloseInput();
  while (out_ >= 0 && ReadSome(-1)) {
  }
  if (out_ >= 0) {
    ::close(out_);
    out_ = -1;
  }
  ProgramResult result;
  result.output = output_;
  if (pid_ > 0) {
    status_ = WaitForExit(pid_);
    pid_ = -1;
  }
  result.status = status_.value_or(-1);
  return result;
}

} // namespace quillet::test
