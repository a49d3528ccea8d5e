// Running a Windows program and finding running ones, on Windows. The program gets a command line
// its C runtime splits back into the given arguments, no window, NUL as input and one pipe for
// its output and errors; only those two handles are inherited (PROC_THREAD_ATTRIBUTE_HANDLE_LIST),
// so that a handle another thread made inheritable meanwhile does not keep the pipe open. It
// starts suspended and enters a job object that ends its processes when its last handle closes,
// so that past the time limit, on an interrupt (the job is on the interrupt's list of running
// children) or when the installer itself is killed, the program and everything it started end.
// A reader thread of the call drains the pipe while the calling thread waits with the limit.
#include "Platform/ChildProcess.h"
#include "Platform/Ascii.h"
#include "Platform/CommandLine.h"
#include "Platform/InterruptHolds.h"
#include "Platform/OutputTail.h"
#include "Platform/Win32/Win32.h"

#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillet::platform {

namespace {

using win32::ErrorText;

// The attribute list that names the handles a child inherits, deleted with its owner.
class InheritedHandles {
public:
  explicit InheritedHandles(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    buffer_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
    if (size == 0 || !::InitializeProcThreadAttributeList(list, 1, 0, &size)) {
      return;
    }
    initialised_ = true;
    ok_ = ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                      handles_.size() * sizeof(HANDLE), nullptr, nullptr) != 0;
  }
  ~InheritedHandles() {
    if (initialised_) {
      ::DeleteProcThreadAttributeList(List());
    }
  }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;

  bool Ok() const { return ok_; }
  LPPROC_THREAD_ATTRIBUTE_LIST List() {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
  }

private:
  std::vector<HANDLE> handles_; // the list points into this
  std::vector<char> buffer_;
  bool initialised_ = false;
  bool ok_ = false;
};

// How long the reader may take to see the pipe's end once the program ended.
constexpr DWORD READER_END_MILLISECONDS = 5000;
constexpr DWORD READER_RETRY_MILLISECONDS = 100;
// The exit status the processes of a job get when the time limit ends them.
constexpr UINT TIMED_OUT_STATUS = 1;

// What the reader thread reads into, and how its reading ended.
struct Reader {
  HANDLE pipe = nullptr;
  OutputTail tail;
  const std::function<void(std::string_view)>* sink = nullptr;
  DWORD error = 0; // a read failure other than the pipe's end
};

DWORD WINAPI ReadOutput(void* parameter) {
  Reader& reader = *static_cast<Reader*>(parameter);
  char buffer[65536];
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(reader.pipe, buffer, sizeof buffer, &read, nullptr)) {
      if (const DWORD error = ::GetLastError();
          error != ERROR_BROKEN_PIPE && error != ERROR_OPERATION_ABORTED) {
        reader.error = error;
      }
      return 0;
    }
    const std::string_view piece(buffer, read);
    reader.tail.Add(piece);
    if (*reader.sink) {
      (*reader.sink)(piece);
    }
  }
}

// Milliseconds left until `deadline`, for a wait; INFINITE without one.
DWORD MillisecondsLeft(std::optional<std::chrono::steady_clock::time_point> deadline) {
  if (!deadline) {
    return INFINITE;
  }
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
  return static_cast<DWORD>(std::clamp<long long>(left.count(), 0, INFINITE - 1));
}

// The full path of a process's program file in UTF-8; empty when it cannot be asked.
std::string ProgramOfProcess(DWORD id) {
  const win32::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  if (!process.Valid()) {
    return {};
  }
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = static_cast<DWORD>(path.size());
    if (::QueryFullProcessImageNameW(process.Get(), 0, path.data(), &length)) {
      path.resize(length);
      return win32::TextOfWide(path);
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || path.size() >= 32768) {
      return {};
    }
    path.resize(path.size() * 2);
  }
}

} // namespace

ChildResult RunWindowsProgram(std::string_view program, const std::vector<std::string>& arguments,
                              std::string_view workingFolder, const ChildOptions& options) {
  ChildResult result;
  const std::string name(program);
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
    result.problem =
        "cannot make a pipe for the output of " + name + ": " + ErrorText(::GetLastError());
    return result;
  }
  win32::UniqueHandle output(readEnd);
  win32::UniqueHandle childOutput(writeEnd);
  // Our end stays ours.
  ::SetHandleInformation(output.Get(), HANDLE_FLAG_INHERIT, 0);
  win32::UniqueHandle input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          &inheritable, OPEN_EXISTING, 0, nullptr));
  if (!input.Valid()) {
    result.problem = "cannot open NUL for " + name + ": " + ErrorText(::GetLastError());
    return result;
  }
  InheritedHandles inherited({input.Get(), childOutput.Get()});
  if (!inherited.Ok()) {
    result.problem =
        "cannot name the handles " + name + " inherits: " + ErrorText(::GetLastError());
    return result;
  }
  const win32::UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!job.Valid() || !::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation,
                                                 &limits, sizeof limits)) {
    result.problem = "cannot make a job object for " + name + ": " + ErrorText(::GetLastError());
    return result;
  }

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = input.Get();
  startup.StartupInfo.hStdOutput = childOutput.Get();
  startup.StartupInfo.hStdError = childOutput.Get();
  startup.lpAttributeList = inherited.List();
  const std::wstring application = win32::WideOfText(program);
  std::wstring commandLine = win32::WideOfText(WindowsCommandLine(program, arguments));
  const std::wstring folder = win32::WideOfText(workingFolder);
  std::optional<std::chrono::steady_clock::time_point> deadline;
  if (options.timeLimit.count() > 0) {
    deadline = std::chrono::steady_clock::now() + options.timeLimit;
  }
  PROCESS_INFORMATION started{};
  // Suspended until it is in the job, so that nothing it starts escapes the job.
  if (!::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup.StartupInfo,
                        &started)) {
    result.problem = "cannot start " + name + ": " + ErrorText(::GetLastError());
    return result;
  }
  const win32::UniqueHandle process(started.hProcess);
  const win32::UniqueHandle thread(started.hThread);
  if (!::AssignProcessToJobObject(job.Get(), process.Get())) {
    result.problem = "cannot put " + name + " into a job object: " + ErrorText(::GetLastError());
    ::TerminateProcess(process.Get(), TIMED_OUT_STATUS);
    return result;
  }
  const holds::RunningChild running(reinterpret_cast<std::intptr_t>(job.Get()));
  ::ResumeThread(thread.Get());
  result.started = true;
  // The pipe ends when the child's copy of the write end closes.
  childOutput.Close();
  input.Close();

  Reader reader{output.Get(), OutputTail(options.tailSize), &options.sink, 0};
  const win32::UniqueHandle readerThread(
      ::CreateThread(nullptr, 0, ReadOutput, &reader, 0, nullptr));
  if (!readerThread.Valid()) {
    result.problem = "cannot read the output of " + name + ": " + ErrorText(::GetLastError());
    ::TerminateJobObject(job.Get(), TIMED_OUT_STATUS);
    ::WaitForSingleObject(process.Get(), INFINITE);
    return result;
  }
  // The program's end is the end of the run, within the limit; then what it wrote is read to the
  // pipe's end, a short while at most, as a process it started may hold the pipe on (the job
  // ends such a process once its handle closes here).
  const DWORD waited = ::WaitForSingleObject(process.Get(), MillisecondsLeft(deadline));
  if (waited == WAIT_TIMEOUT) {
    result.timedOut = true;
    ::TerminateJobObject(job.Get(), TIMED_OUT_STATUS);
  }
  if (::WaitForSingleObject(readerThread.Get(), READER_END_MILLISECONDS) != WAIT_OBJECT_0) {
    // The processes left in the job go now; a holder outside it (none should be) has the read
    // cancelled until the reader sees it.
    ::TerminateJobObject(job.Get(), TIMED_OUT_STATUS);
    while (::WaitForSingleObject(readerThread.Get(), READER_RETRY_MILLISECONDS) != WAIT_OBJECT_0) {
      ::CancelSynchronousIo(readerThread.Get());
    }
  }
  output.Close();
  result.output = reader.tail.Take();
  result.outputSize = reader.tail.Total();
  if (result.timedOut) {
    ::WaitForSingleObject(process.Get(), INFINITE);
    result.problem = name + " did not end within " + std::to_string(options.timeLimit.count()) +
                     " s and was stopped";
    return result;
  }
  DWORD exitCode = 0;
  if (waited != WAIT_OBJECT_0 || !::GetExitCodeProcess(process.Get(), &exitCode)) {
    result.problem = "cannot wait for " + name + ": " + ErrorText(::GetLastError());
    return result;
  }
  result.exitCode = static_cast<int>(exitCode);
  if (reader.error != 0) {
    result.problem = "cannot read the output of " + name + ": " + ErrorText(reader.error);
  }
  return result;
}

bool ProgramRunning(const std::vector<std::string>& programs) {
  const win32::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.Valid()) {
    return false;
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ProcessID == 0) {
      continue;
    }
    const std::string path = ProgramOfProcess(entry.th32ProcessID);
    for (const std::string& program : programs) {
      if (!path.empty() && EqualIgnoringAsciiCase(path, program)) {
        return true;
      }
    }
  }
  return false;
}

} // namespace quillet::platform
