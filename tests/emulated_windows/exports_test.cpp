// The eight exports, found by their decorated names and called as the
// MSVC-built host calls them: stdcall, results by value through a location
// passed first, every argument popped by the callee.

#include <gtest/gtest.h>

#include <set>

#include "tests/emulated_windows/foreign_plugin.hpp"
#include "tests/support/test_host.hpp"

namespace {

class exports : public ::testing::Test {
 protected:
  std::uint32_t application() { return dll.hosts.address_of<HostApplication>(&host.application); }
  std::uint32_t id(const unsigned char* bytes) { return dll.host_bytes(bytes, 16); }
  // A result location surrounded by bytes that must stay as they are.
  std::uint32_t result_location(std::uint32_t size) {
    const std::vector<std::uint8_t> fill(size + 8, 0xAB);
    return dll.host_bytes(fill.data(), fill.size()) + 4;
  }
  std::vector<std::uint32_t> words(std::uint32_t at, int count) {
    std::vector<std::uint32_t> w;
    for (int i = 0; i < count; ++i) w.push_back(dll.process.cpu.read32(at + 4 * i));
    return w;
  }
  bool untouched_around(std::uint32_t at, std::uint32_t size) {
    return dll.process.cpu.read32(at - 4) == 0xABABABAB &&
           dll.process.cpu.read32(at + size) == 0xABABABAB;
  }

  foreign_plugin dll;
  test_host host;
};

TEST_F(exports, exactly_the_eight_decorated_names_under_the_modules_name) {
  std::set<std::string> names;
  for (const auto& [name, address] : dll.module.exports()) {
    names.insert(name);
    EXPECT_GE(address, dll.module.base()) << name;
    EXPECT_LT(address, dll.module.base() + dll.module.size()) << name;
  }
  EXPECT_EQ(names, (std::set<std::string>(std::begin(decorated_entry_point_names),
                                          std::end(decorated_entry_point_names))));
  EXPECT_EQ(dll.module.export_module_name(), "Velloq.dll");
}

TEST_F(exports, get_name_hands_back_the_hosts_own_text_and_asks_nothing_for_a_foreign_id) {
  host.strings["plugin_title"] = "Quillmark";
  call_outcome r = dll.call_export<entry_point::get_name>(
      {id(effector_interface_id_bytes), 7, application(), 9});
  ASSERT_TRUE(r.clean()) << r.describe();
  // The very address the host's get_localized_string answered.
  EXPECT_EQ(r.eax, dll.hosts.text_address(host.strings["plugin_title"].c_str()));
  EXPECT_EQ(dll.process.cpu.read_string(r.eax), "Quillmark");
  EXPECT_EQ(host.ledger.calls, (std::vector<std::string>{"application.get_services",
                                                         "services.get_localized_string"}));

  host.ledger.calls.clear();
  r = dll.call_export<entry_point::get_name>({id(foreign_interface_id_bytes), 7, application(), 9});
  ASSERT_TRUE(r.clean()) << r.describe();
  EXPECT_EQ(r.eax, 0u);
  EXPECT_TRUE(host.ledger.calls.empty());
}

TEST_F(exports, uuid_and_info_come_back_through_the_hidden_result_location) {
  std::uint32_t at = result_location(16);
  call_outcome r =
      dll.call_export<entry_point::get_uuid>({at, id(effector_interface_id_bytes), 0, 0});
  ASSERT_TRUE(r.clean()) << r.describe();
  EXPECT_EQ(r.eax, at);
  EXPECT_EQ(words(at, 4),
            (std::vector<std::uint32_t>{0x05A838F5, 0xCA63446B, 0x9F83727D, 0x554E9C40}));
  EXPECT_TRUE(untouched_around(at, 16));

  at = result_location(16);
  r = dll.call_export<entry_point::get_uuid>({at, id(foreign_interface_id_bytes), 0, 0});
  ASSERT_TRUE(r.clean()) << r.describe();
  EXPECT_EQ(r.eax, at);
  EXPECT_EQ(words(at, 4), (std::vector<std::uint32_t>{0, 0, 0, 0}));
  EXPECT_TRUE(untouched_around(at, 16));

  at = result_location(24);
  r = dll.call_export<entry_point::get_info>({at, 0, 0});
  ASSERT_TRUE(r.clean()) << r.describe();
  EXPECT_EQ(r.eax, at);
  EXPECT_EQ(words(at, 6), (std::vector<std::uint32_t>{440487, 430000, 1, 2, 0, 1}));
  EXPECT_TRUE(untouched_around(at, 24));
  EXPECT_TRUE(host.ledger.calls.empty());
}

TEST_F(exports, the_plain_answers) {
  struct plain_case {
    entry_point called;
    std::vector<std::uint32_t> args;
    std::uint32_t answer;
  };
  for (const plain_case& c : {plain_case{entry_point::get_interface_version, {3}, 25},
                              plain_case{entry_point::is_resident, {1, 2, 3}, 0},
                              plain_case{entry_point::has_separate_interfaces, {1}, 0}}) {
    const char* name = decorated_name_of(c.called);
    const call_outcome r = dll.call_export(c.called, c.args);
    ASSERT_TRUE(r.clean()) << name << ": " << r.describe();
    EXPECT_EQ(r.eax, c.answer) << name;
  }
}

}  // namespace
