// Shared helpers for the tests: temporary folders, files, and running the built programs.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillet::test {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
  std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, const std::string& content);

// A path from UTF-8 bytes, as the tests write non-ASCII names (a narrow path would be taken in the
// ANSI code page on Windows).
std::filesystem::path Utf8Path(const std::string& utf8);

// What the system under the tests offers in `folder`: symbolic links (Wine has none), and
// whether names that differ in letter case name the same file.
bool SymlinksWork(const std::filesystem::path& folder);
bool NamesIgnoreCase(const std::filesystem::path& folder);
std::string ReadFile(const std::filesystem::path& path);

struct ProgramResult {
  std::string output; // everything written to standard output
  int status = -1;    // exit status, or 128 + signal number
};

struct ProgramOptions {
  // Standard input: these bytes through a pipe, or /dev/null when nullopt.
  std::optional<std::string> input;
  // Variables set (or, with nullopt, removed) for the child on top of this environment.
  std::map<std::string, std::optional<std::string>> environment;
  std::optional<std::filesystem::path> workingDirectory;
  // Start the program with standard input or output closed.
  bool closeInput = false;
  bool closeOutput = false;
  // Hand the input pipe over in non-blocking mode.
  bool nonBlockingInput = false;
};

// Runs a program to its end with the given arguments (argv[0] is the program path).
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const ProgramOptions& options = {});

// Paths of the built programs.
std::string SfxPath();
std::string PackPath();

} // namespace quillet::test

namespace quillet::test {

// A program running with pipes on its standard input and output, for dialogues in which the
// answer may only be written after the question has been seen.
class InteractiveProgram {
public:
  InteractiveProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const ProgramOptions& options);
  ~InteractiveProgram();
  InteractiveProgram(const InteractiveProgram&) = delete;
  InteractiveProgram& operator=(const InteractiveProgram&) = delete;

  // Reads output until it contains `text` (true) or the output ends or `seconds` pass (false).
  bool WaitForOutput(const std::string& text, int seconds = 60);
  void Write(const std::string& bytes);
  void CloseInput();
  // Waits up to `seconds`, reading nothing, until the program has filled the pipe of its output
  // (so that its next write blocks); false when it does not come to that.
  bool WaitForFullOutputPipe(int seconds = 60);
  // Sends a signal to the program.
  void Signal(int signal);
  // Waits up to `seconds` for the program to end without reading its output (a full pipe stays
  // full); its status as in ProgramResult, or nullopt when it is still running.
  std::optional<int> WaitForExitOnly(int seconds = 60);
  // The signal that killed the program, once it has been waited for; 0 when it exited.
  int KilledBy() const { return killedBy_; }
  // Closes the input, reads the rest of the output and gives the result.
  ProgramResult Finish();
  const std::string& Output() const { return output_; }

private:
  bool ReadSome(int timeoutMs);

  int pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string output_;
  std::optional<int> status_; // once the program has been waited for
  int killedBy_ = 0;
};

} // namespace quillet::test
