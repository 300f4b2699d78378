// The host's discovery sequence through the loaded module's entry points.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "host/com_unknown.hpp"
#include "refhost/hosting/plugin_module.hpp"
#include "tests/support/module_path.hpp"
#include "tests/support/test_host.hpp"

namespace {

const unsigned char foreign_id[16] = {0x64, 0x7D, 0xE4, 0x50, 0x22, 0x89, 0xD1, 0x11,
                                      0x9A, 0x00, 0x00, 0xC0, 0x4F, 0xCC, 0x9C, 0x27};

class discovery : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { module = new plugin_module(module_path()); }
  static void TearDownTestSuite() { delete module; }
  const plugin_entry_points& entry() { return module->entry_points(); }

  static plugin_module* module;
  test_host host;
};
plugin_module* discovery::module = nullptr;

TEST_F(discovery, the_version_gate_opens_at_430000) {
  for (const auto& [version, expected] :
       {std::pair{429999, 0}, std::pair{430000, 1}, std::pair{440487, 1}, std::pair{-1, 0}}) {
    host.application.version = version;
    host.ledger.calls.clear();
    EXPECT_EQ(entry().has_interface(effector_interface_id, &host.application), expected) << version;
    EXPECT_EQ(host.ledger.calls, std::vector<std::string>{"application.get_version"});
  }
}

TEST_F(discovery, a_foreign_id_is_refused_but_the_version_is_still_asked) {
  host.application.version = 440487;
  EXPECT_EQ(entry().has_interface(foreign_id, &host.application), 0);
  EXPECT_EQ(host.ledger.calls, std::vector<std::string>{"application.get_version"});
}

TEST_F(discovery, get_name_answers_the_hosts_own_title_text) {
  host.strings["plugin_title"] = "Quillmark (test)";
  const char* title = entry().get_name(effector_interface_id, 0, &host.application, 0);
  EXPECT_EQ(title, host.strings["plugin_title"].c_str());  // the same pointer
  EXPECT_EQ(host.ledger.calls, (std::vector<std::string>{"application.get_services",
                                                         "services.get_localized_string"}));
  host.ledger.calls.clear();
  EXPECT_EQ(entry().get_name(foreign_id, 0, &host.application, 0), nullptr);
  EXPECT_TRUE(host.ledger.calls.empty());
}

TEST_F(discovery, identity_answers_need_no_host_call) {
  Uuid uuid{{1, 1, 1, 1}};
  EXPECT_EQ(entry().get_uuid(&uuid, effector_interface_id, 0, 0), &uuid);
  const std::uint32_t plugin_words[4] = {0x05A838F5, 0xCA63446B, 0x9F83727D, 0x554E9C40};
  EXPECT_EQ(std::memcmp(uuid.words, plugin_words, 16), 0);
  EXPECT_EQ(entry().get_uuid(&uuid, foreign_id, 0, 0), &uuid);
  EXPECT_EQ(uuid.words[0] | uuid.words[1] | uuid.words[2] | uuid.words[3], 0u);

  EXPECT_EQ(entry().get_interface_version(0), 25);
  EXPECT_EQ(entry().is_resident(0, 0, 0), 0);
  EXPECT_EQ(entry().has_separate_interfaces(0), 0);
  PluginInfo info{-1, -1, -1, -1, -1, -1};
  EXPECT_EQ(entry().get_info(&info, 0, 0), &info);
  const std::int32_t expected[6] = {440487, 430000, 1, 2, 0, 1};
  EXPECT_EQ(std::memcmp(&info, expected, sizeof expected), 0);
  EXPECT_TRUE(host.ledger.calls.empty());
}

TEST_F(discovery, create_interface_stores_a_component_holding_one_reference) {
  void* out = nullptr;
  EXPECT_EQ(entry().create_interface(0, 0, &out, 0, 0), 1);
  ASSERT_NE(out, nullptr);
  auto* unknown = static_cast<IUnknown*>(out);
  EXPECT_EQ(unknown->AddRef(), 2u);
  EXPECT_EQ(unknown->Release(), 1u);
  EXPECT_EQ(unknown->Release(), 0u);
}

std::string file_text(const std::string& name) {
  std::ifstream file(std::string(VELLOQ_SOURCE_DIR) + "/resources/" + name, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

TEST_F(discovery, the_module_carries_its_resources_in_both_languages) {
  for (std::uint16_t language : {std::uint16_t{1033}, std::uint16_t{1041}}) {
    const resource_view table = module->find_resource("QZUL", "TEXT", language);
    ASSERT_TRUE(table) << language;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(table.data), table.size),
              file_text(language == 1033 ? "strings_en.xml" : "strings_ja.xml"));
    // Names are found without regard to case, as Windows finds them.
    for (const char* name : {"ASCII", "ascii", "Ascii"}) {
      const resource_view atlas = module->find_resource("TARGA", name, language);
      ASSERT_TRUE(atlas) << name;
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(atlas.data), atlas.size),
                file_text("ascii.tga"));
    }
  }
  EXPECT_FALSE(module->find_resource("QZUL", "TEXT", 1031));
  EXPECT_FALSE(module->find_resource("TARGA", "ASCII2", 1033));
}

TEST(module_loading, a_missing_module_gives_a_clear_error) {
  try {
    plugin_module missing("/nonexistent/Velloq-missing.module");
    FAIL() << "loaded a module that does not exist";
  } catch (const module_error& error) {
    EXPECT_NE(std::string(error.what()).find("Velloq-missing.module"), std::string::npos);
  }
}

}  // namespace
