#include "Installer/RunInstaller.h"

#include <cstdio>
#include <exception>
#include <new>

#include "Common/Exception.h"
#include "Installer/Console.h"
#include "Installer/ContentPipeline.h"
#include "Installer/DownloadAddress.h"
#include "Installer/Installation.h"
#include "Installer/PackageSource.h"
#include "Package/RecordCheck.h"
#include "Platform/PathSplit.h"
#include "Platform/Process.h"

namespace quillet {

int RunInstaller(const std::vector<std::string>& arguments) {
  WriteLine(PRODUCT_BANNER);

  PackageImage image;
  PackageLayout layout;
  bool opened = OpenPackage(arguments, image, layout);
  // Damage that the entry checksums cannot see ends the run before anything is asked or written.
  if (opened && CheckPackageRecords(layout) == RecordCheck::Mismatch) {
    ReleasePackage(image);
    opened = false;
  }
  if (!opened) {
    WriteLine(std::string(ABSENT_PACKAGE_MESSAGE) + DownloadAddress());
    return EXIT_NO_PACKAGE;
  }

  // Whichever way the installation ends, the package is released and the user answers the final
  // prompt before anything else is reported.
  auto cleanUp = [&image] {
    ReleasePackage(image);
    WriteLine(FINAL_PROMPT);
    ReadLine();
  };
  InstallContext context;
  bool allInstalled = false;
  try {
    InstallOptions options;
    options.threads = InstallThreads();
    allInstalled = RunInstallation(ReadPackageSettings(layout), context, StdConsole(), options);
  } catch (...) {
    cleanUp();
    throw;
  }
  cleanUp();
  return allInstalled ? EXIT_INSTALLED : EXIT_ENTRY_FAILED;
}

std::string FormatFailureReport(std::string_view className, std::string_view moduleName,
                                std::uint32_t offset, std::string_view message) {
  char address[9];
  std::snprintf(address, sizeof address, "%08X", static_cast<unsigned>(offset));
  std::string report = "Exception ";
  report.append(className).append(" in module ").append(moduleName);
  report.append(" at ").append(address).append(".\n").append(message);
  if (!message.empty() && message.back() != '.') {
    report.push_back('.');
  }
  return report;
}

namespace {

std::string ProgramFileName() {
  const std::string path = platform::OwnProgramPath();
  return std::string(platform::SplitAtLastSeparator(path, "/\\").name);
}

} // namespace

int ReportCurrentException() {
  std::string className = "Exception";
  std::string message;
  std::uint32_t offset = 0;
  try {
    throw;
  } catch (const Exception& e) {
    className = e.ClassName();
    message = e.what();
    offset = platform::ModuleOffsetOf(e.Where());
  } catch (const std::bad_alloc&) {
    className = "EOutOfMemory";
    message = "Out of memory";
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "Unknown failure";
  }
  WriteLine(FormatFailureReport(className, ProgramFileName(), offset, message));
  return EXIT_FAILURE_REPORT;
}

} // namespace quillet
