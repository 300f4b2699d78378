#include "refhost/hosting/host_objects.hpp"

#include <exception>
#include <map>
#include <memory>

#include "refhost/hosting/string_table.hpp"
#include "refhost/pictures/tga_codec.hpp"

namespace {

constexpr std::uint16_t fallback_language = 1033;

// Each language's table, parsed when first asked for.
class string_tables {
 public:
  string_tables(const plugin_module& module, host_problems& problems)
      : module_(module), problems_(problems) {}

  const std::map<std::string, std::string>& of(std::uint16_t language) {
    auto found = tables_.find(language);
    if (found != tables_.end())
      return found->second;
    std::map<std::string, std::string>& table = tables_[language];
    const resource_view text = module_.find_resource("QZUL", "TEXT", language);
    if (!text)
      return table;
    try {
      for (auto& [id, value] :
           parse_string_table(reinterpret_cast<const char*>(text.data), text.size)) {
        table.emplace(std::move(id), std::move(value));
      }
    } catch (const std::exception& error) {
      problems_.push_back(std::string("string table ") + std::to_string(language) + ": " +
                          error.what());
    }
    return table;
  }

 private:
  const plugin_module& module_;
  host_problems& problems_;
  std::map<std::uint16_t, std::map<std::string, std::string>> tables_;
};

}  // namespace

host_kit::module_resources<velloq_host_policy> resources_of(const plugin_module& module,
                                                            std::uint16_t language,
                                                            host_problems& problems) {
  host_kit::module_resources<velloq_host_policy> resources;
  auto tables = std::make_shared<string_tables>(module, problems);
  resources.text = [tables, language, &problems](const char* id) -> const char* {
    try {
      for (std::uint16_t each : {language, fallback_language}) {
        const auto& table = tables->of(each);
        auto entry = table.find(id);
        if (entry != table.end())
          return entry->second.c_str();
      }
      problems.push_back(std::string("the module's string table has no entry ") + id);
    } catch (const std::exception& error) {
      problems.push_back(error.what());
    }
    return "";
  };
  resources.image = [&module, language,
                     &problems](const char* name) -> std::unique_ptr<memory_image> {
    try {
      resource_view bytes = module.find_resource("TARGA", name, language);
      if (!bytes)
        bytes = module.find_resource("TARGA", name, fallback_language);
      if (!bytes) {
        problems.push_back(std::string("the module has no image resource ") + name);
        return nullptr;
      }
      return std::unique_ptr<memory_image>(decode_tga(bytes.data, bytes.size).release());
    } catch (const std::exception& error) {
      problems.push_back(std::string("image resource ") + name + ": " + error.what());
      return nullptr;
    }
  };
  return resources;
}
