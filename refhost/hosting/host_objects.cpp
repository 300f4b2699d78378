#include "refhost/hosting/host_objects.hpp"

#include <exception>

#include "refhost/hosting/string_table.hpp"
#include "refhost/pictures/tga_codec.hpp"

namespace {
constexpr std::uint16_t fallback_language = 1033;
}

const std::map<std::string, std::string>& reference_services::table_for(std::uint16_t language) {
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

const char* VELLOQ_THISCALL reference_services::get_localized_string(const char* id) {
  try {
    for (std::uint16_t language : {language_, fallback_language}) {
      const auto& table = table_for(language);
      auto entry = table.find(id);
      if (entry != table.end())
        return entry->second.c_str();
    }
    problems_.push_back(std::string("the module's string table has no entry ") + id);
  } catch (const std::exception& error) {
    problems_.push_back(error.what());
  }
  return "";
}

HostImage* VELLOQ_THISCALL reference_services::load_image_resource(const char* name) {
  try {
    resource_view bytes = module_.find_resource("TARGA", name, language_);
    if (!bytes)
      bytes = module_.find_resource("TARGA", name, fallback_language);
    if (!bytes) {
      problems_.push_back(std::string("the module has no image resource ") + name);
      return nullptr;
    }
    return decode_tga(bytes.data, bytes.size).release();
  } catch (const std::exception& error) {
    problems_.push_back(std::string("image resource ") + name + ": " + error.what());
    return nullptr;
  }
}
