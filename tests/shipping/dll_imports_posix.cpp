// Velloq.dll must load on every Windows the host ran on, from XP SP3 on: a
// single import that XP's DLLs lack makes LoadLibrary fail there, and the
// host silently never lists the plug-in. Read from the file, as the loader
// reads it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <optional>
#include <set>
#include <string>

#include "emulated_windows/process/pe_file.hpp"
#include "emulated_windows/process/windows_functions.hpp"
#include "tests/shipping/shipping_paths.hpp"

namespace {

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::set<std::string> imported_functions(const pe_file& dll) {
  std::set<std::string> imported;
  for (const pe_import_module& module : dll.imports()) {
    for (const std::string& function : module.functions)
      imported.insert(lower(module.dll) + " " + function);
  }
  return imported;
}

class dll_imports : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::ifstream(shipped_dll_path()).good())
        << shipped_dll_path() << " is missing: build the win32 preset first (scripts/test does)";
    image.emplace(pe_file::read(shipped_dll_path()));
  }
  const pe_file& dll() const { return *image; }
  std::optional<pe_file> image;
};

TEST_F(dll_imports, every_imported_function_exists_on_windows_xp_sp3) {
  ASSERT_FALSE(dll().imports().empty());
  for (const pe_import_module& module : dll().imports()) {
    for (const std::string& function : module.functions)
      EXPECT_TRUE(windows_exports(windows_version::xp_sp3, module.dll, function))
          << module.dll << "!" << function
          << " is not among the XP SP3 functions Velloq may import";
  }
  // Nothing is bound late either: a delay-loaded import fails just the same.
  EXPECT_EQ(dll().directory_rva(pe_directory::delay_imports), 0u);
}

TEST_F(dll_imports, services_newer_than_xp_are_looked_up_by_name_not_imported) {
  const std::set<std::string> imported = imported_functions(dll());
  const std::string contents(dll().bytes().begin(), dll().bytes().end());
  for (const char* service : {"GetNativeSystemInfo", "IsWow64Process", "GetProductInfo"}) {
    EXPECT_FALSE(imported.count(std::string("kernel32.dll ") + service)) << service;
    EXPECT_NE(contents.find(std::string(service) + '\0'), std::string::npos)
        << service << ": its name is what the module resolves at run time";
  }
  EXPECT_FALSE(imported.count("kernel32.dll GetTickCount64"));
}

TEST_F(dll_imports, nothing_that_reaches_into_the_host_process_is_imported) {
  // A plug-in runs on the host's thread and owns nothing of its process: no
  // threads of its own, no timers, no process-wide exception handlers.
  const std::set<std::string> imported = imported_functions(dll());
  for (const char* reaching :
       {"kernel32.dll AddVectoredExceptionHandler", "kernel32.dll AddVectoredContinueHandler",
        "kernel32.dll SetUnhandledExceptionFilter", "kernel32.dll CreateThread",
        "kernel32.dll CreateTimerQueueTimer", "msvcrt.dll _beginthread",
        "msvcrt.dll _beginthreadex", "user32.dll SetTimer", "user32.dll SetWindowsHookExA",
        "user32.dll SetWindowsHookExW"})
    EXPECT_FALSE(imported.count(reaching)) << reaching;
}

TEST_F(dll_imports, the_header_is_acceptable_to_the_windows_xp_loader) {
  const pe_headers& header = dll().headers();
  EXPECT_EQ(header.machine, 0x014C);              // i386
  EXPECT_EQ(header.optional_magic, 0x010B);       // PE32
  EXPECT_NE(header.characteristics & 0x2000, 0);  // a DLL
  EXPECT_NE(header.characteristics & 0x0100, 0);  // 32-bit words
  // XP is 5.1: an image asking for a newer system is refused.
  const auto at_most_xp = [](const std::uint16_t(&wanted)[2]) {
    return wanted[0] < 5 || (wanted[0] == 5 && wanted[1] <= 1);
  };
  EXPECT_TRUE(at_most_xp(header.os_version)) << header.os_version[0] << "." << header.os_version[1];
  EXPECT_TRUE(at_most_xp(header.subsystem_version))
      << header.subsystem_version[0] << "." << header.subsystem_version[1];
  EXPECT_EQ(header.image_base % 0x10000, 0u);
  EXPECT_EQ(header.section_alignment, 0x1000u);
  // Another module may already sit at the preferred base: the loader must
  // be able to move the image, so it carries its relocations.
  EXPECT_NE(dll().directory_rva(pe_directory::base_relocations), 0u);
  EXPECT_EQ(dll().directory_rva(pe_directory::bound_imports), 0u);
}

}  // namespace
