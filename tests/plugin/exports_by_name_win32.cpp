// The exports called as an MSVC-built host calls them: looked up by their
// decorated names, arguments pushed by hand, results returned by value
// through a location pushed first, and the callee popping everything.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "host/plugin_entry_points.hpp"
#include "tests/support/foreign_call.hpp"
#include "tests/support/module_path.hpp"
#include "tests/support/test_host.hpp"

namespace {

const unsigned char effector_id[16] = {0x64, 0x7D, 0xE4, 0x50, 0x22, 0x89, 0xD1, 0x11,
                                       0x9A, 0x00, 0x00, 0xC0, 0x4F, 0xCC, 0x9C, 0x26};

class exports_by_name : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { module = LoadLibraryA(module_path().c_str()); }
  static void TearDownTestSuite() { FreeLibrary(module); }

  // Calls the export with stdcall: no `this`, arguments on the stack.
  static foreign_result call(entry_point e, std::initializer_list<std::uint32_t> args) {
    const char* name = decorated_name_of(e);
    const void* target = reinterpret_cast<const void*>(GetProcAddress(module, name));
    EXPECT_NE(target, nullptr) << name;
    if (target == nullptr)
      return foreign_result{0, 0};
    return foreign_call(target, 0xDEADBEEF, args);
  }

  static HMODULE module;
  test_host host;
};
HMODULE exports_by_name::module = nullptr;

TEST_F(exports_by_name, every_export_pops_exactly_its_arguments) {
  ASSERT_NE(module, nullptr);
  host.application.version = 440487;
  host.strings["plugin_title"] = "Quillmark";

  foreign_result r = call(entry_point::has_interface, {word(effector_id), word(&host.application)});
  EXPECT_EQ(r.eax & 0xFF, 1u);
  EXPECT_EQ(r.stack_imbalance, 0);

  host.application.version = 429999;
  r = call(entry_point::has_interface, {word(effector_id), word(&host.application)});
  EXPECT_EQ(r.eax & 0xFF, 0u);
  EXPECT_EQ(r.stack_imbalance, 0);

  r = call(entry_point::get_name, {word(effector_id), 0, word(&host.application), 0});
  EXPECT_EQ(r.eax, word(host.strings["plugin_title"].c_str()));
  EXPECT_EQ(r.stack_imbalance, 0);

  r = call(entry_point::get_interface_version, {0});
  EXPECT_EQ(r.eax, 25u);
  EXPECT_EQ(r.stack_imbalance, 0);

  Uuid uuid{{0, 0, 0, 0}};
  r = call(entry_point::get_uuid, {word(&uuid), word(effector_id), 0, 0});
  EXPECT_EQ(r.eax, word(&uuid));  // the result location comes back in EAX
  EXPECT_EQ(r.stack_imbalance, 0);
  EXPECT_EQ(uuid.words[0], 0x05A838F5u);
  EXPECT_EQ(uuid.words[3], 0x554E9C40u);

  r = call(entry_point::is_resident, {0, 0, 0});
  EXPECT_EQ(r.eax & 0xFF, 0u);
  EXPECT_EQ(r.stack_imbalance, 0);

  std::int32_t info[6] = {-1, -1, -1, -1, -1, -1};
  r = call(entry_point::get_info, {word(info), 0, 0});
  EXPECT_EQ(r.eax, word(info));
  EXPECT_EQ(r.stack_imbalance, 0);
  const std::int32_t expected[6] = {440487, 430000, 1, 2, 0, 1};
  EXPECT_EQ(std::memcmp(info, expected, sizeof info), 0);

  r = call(entry_point::has_separate_interfaces, {0});
  EXPECT_EQ(r.eax & 0xFF, 0u);
  EXPECT_EQ(r.stack_imbalance, 0);

  void* component = nullptr;
  r = call(entry_point::create_interface, {0, 0, word(&component), 0, 0});
  EXPECT_EQ(r.eax, 1u);
  EXPECT_EQ(r.stack_imbalance, 0);
  ASSERT_NE(component, nullptr);
  EXPECT_EQ(call_com_slot(component, 2, {}).eax, 0u);  // the one reference
}

}  // namespace
