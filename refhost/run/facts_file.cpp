#include "refhost/run/facts_file.hpp"

#include <algorithm>
#include <climits>
#include <nlohmann/json.hpp>
#include <optional>

#include "refhost/files/file_io.hpp"
#include "refhost/run/command_line.hpp"

namespace {

// Far more than any sequence's facts; a file this size is a wrong path.
constexpr std::size_t max_facts_file_bytes = std::size_t{64} << 20;

// One line or entry as it is read, its frame and times still to be checked
// for presence.
struct facts_row {
  std::optional<std::int32_t> frame, setup_ms, rendering_ms;
  frame_facts facts;
};

using fact_setter = void (*)(facts_row& row, const std::string& value, const std::string& where);

struct fact_column {
  const char* name;
  bool required;
  fact_setter set;
};

std::int32_t milliseconds(const std::string& value, const std::string& where) {
  return parse_integer(where, value, 0, INT32_MAX);
}

const fact_column fact_columns[] = {
    {"frame", true,
     [](facts_row& r, const std::string& v, const std::string& w) {
       r.frame = parse_integer(w, v, 0, INT32_MAX);
     }},
    {"setup_ms", true,
     [](facts_row& r, const std::string& v, const std::string& w) {
       r.setup_ms = milliseconds(v, w);
     }},
    {"rendering_ms", true,
     [](facts_row& r, const std::string& v, const std::string& w) {
       r.rendering_ms = milliseconds(v, w);
     }},
    {"host_version", false,
     [](facts_row& r, const std::string& v, const std::string& w) {
       r.facts.host_version = parse_integer(w, v, INT32_MIN, INT32_MAX);
     }},
    {"version_text", false,
     [](facts_row& r, const std::string& v, const std::string&) { r.facts.version_text = v; }},
    {"renderer", false,
     [](facts_row& r, const std::string& v, const std::string& w) {
       r.facts.renderer = renderer_from_text(v, w);
     }},
    {"gi", false,
     [](facts_row& r, const std::string& v, const std::string& w) {
       r.facts.gi_method = gi_method_from_text(v, w);
     }},
    {"irradiance_caching", false,
     [](facts_row& r, const std::string& v, const std::string& w) {
       if (v == "on" || v == "true" || v == "1")
         r.facts.irradiance_caching = true;
       else if (v == "off" || v == "false" || v == "0")
         r.facts.irradiance_caching = false;
       else
         throw usage_error(w + ": '" + v + "' is not on or off");
     }},
};

const fact_column* find_column(const std::string& name) {
  for (const fact_column& column : fact_columns) {
    if (name == column.name)
      return &column;
  }
  return nullptr;
}

[[noreturn]] void unknown_column(const std::string& where, const std::string& name) {
  std::string names;
  for (const fact_column& column : fact_columns)
    names += std::string(names.empty() ? "" : ", ") + column.name;
  throw usage_error(where + ": no column is called '" + name + "' (the columns: " + names + ")");
}

class facts_reader {
 public:
  explicit facts_reader(const std::string& path) : path_(path) {}

  // A row whose cells are all read: the required ones must be there.
  void add(facts_row& row, const std::string& where) {
    if (!row.frame || !row.setup_ms || !row.rendering_ms) {
      throw usage_error(where + " lacks " +
                        (!row.frame      ? "frame"
                         : !row.setup_ms ? "setup_ms"
                                         : "rendering_ms") +
                        " (each frame needs frame, setup_ms and rendering_ms)");
    }
    row.facts.setup_ms = *row.setup_ms;
    row.facts.rendering_ms = *row.rendering_ms;
    if (!table_.emplace(*row.frame, row.facts).second) {
      throw usage_error(where + ": frame " + std::to_string(*row.frame) +
                        " has facts already, on an earlier line");
    }
  }

  void read_csv(const std::string& text);
  void read_json(const std::string& text);
  frame_facts_table& table() { return table_; }

 private:
  std::string path_;
  frame_facts_table table_;
};

// The fields of one CSV line; a quoted field may hold commas and "".
std::vector<std::string> csv_fields(const std::string& line, const std::string& where) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t at = 0; at < line.size(); ++at) {
    const char c = line[at];
    if (quoted) {
      if (c == '"' && at + 1 < line.size() && line[at + 1] == '"') {
        fields.back() += '"';
        ++at;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"' && fields.back().empty()) {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  if (quoted)
    throw usage_error(where + ": a quoted field does not end");
  return fields;
}

void facts_reader::read_csv(const std::string& text) {
  std::vector<const fact_column*> columns;
  std::size_t line_number = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++line_number;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos)
      continue;
    const std::string where = "--facts " + path_ + " line " + std::to_string(line_number);
    const std::vector<std::string> fields = csv_fields(line, where);
    if (columns.empty()) {
      for (const std::string& name : fields) {
        const fact_column* column = find_column(name);
        if (column == nullptr)
          unknown_column(where, name);
        if (std::find(columns.begin(), columns.end(), column) != columns.end())
          throw usage_error(where + ": the column " + name + " is named twice");
        columns.push_back(column);
      }
      continue;
    }
    if (fields.size() != columns.size()) {
      throw usage_error(where + " has " + std::to_string(fields.size()) + " fields, the header " +
                        std::to_string(columns.size()));
    }
    facts_row row;
    for (std::size_t k = 0; k < fields.size(); ++k) {
      if (!fields[k].empty())
        columns[k]->set(row, fields[k], where + " " + columns[k]->name);
    }
    add(row, where);
  }
  if (columns.empty())
    throw usage_error("--facts " + path_ +
                      " is empty: it needs a header line and a line per frame");
}

void facts_reader::read_json(const std::string& text) {
  nlohmann::json document;
  try {
    document = nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception& error) {
    throw usage_error("--facts " + path_ + " is not valid JSON: " + error.what());
  }
  if (!document.is_array())
    throw usage_error("--facts " + path_ + " is JSON, but not an array of one object per frame");
  for (std::size_t index = 0; index < document.size(); ++index) {
    const nlohmann::json& entry = document[index];
    const std::string where = "--facts " + path_ + " entry " + std::to_string(index + 1);
    if (!entry.is_object())
      throw usage_error(where + " is not an object");
    facts_row row;
    for (const auto& [key, value] : entry.items()) {
      const fact_column* column = find_column(key);
      if (column == nullptr)
        unknown_column(where, key);
      if (value.is_null())
        continue;
      const std::string text_value = value.is_string() ? value.get<std::string>() : value.dump();
      if (value.is_object() || value.is_array())
        throw usage_error(where + " " + key + ": " + text_value + " is not a single value");
      column->set(row, text_value, where + " " + key);
    }
    add(row, where);
  }
}

}  // namespace

frame_facts_table read_facts_file(const std::string& path) {
  const std::vector<unsigned char> bytes = read_file_bytes(path, max_facts_file_bytes);
  std::string text(bytes.begin(), bytes.end());
  if (text.rfind("\xEF\xBB\xBF", 0) == 0)
    text.erase(0, 3);  // the byte order mark spreadsheets put before UTF-8
  facts_reader reader(path);
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first != std::string::npos && (text[first] == '[' || text[first] == '{'))
    reader.read_json(text);
  else
    reader.read_csv(text);
  return std::move(reader.table());
}

void attach_facts(std::vector<frame_task>& tasks, const frame_facts_table& table,
                  const std::string& path) {
  std::vector<std::int32_t> missing;
  for (frame_task& task : tasks) {
    const auto found = table.find(task.number);
    if (found == table.end())
      missing.push_back(task.number);
    else
      task.facts = found->second;
  }
  if (missing.empty())
    return;
  std::sort(missing.begin(), missing.end());
  throw usage_error("--facts " + path + " has no line for " +
                    (missing.size() == 1 ? "frame " : "frames ") + frames_text(missing) +
                    " of this run; nothing was written");
}

std::string frame_hosts_refused(const std::vector<frame_task>& tasks,
                                const std::string& module_path, const session_settings& settings) {
  std::map<std::int32_t, std::vector<std::int32_t>> frames_of_version;
  for (const frame_task& task : tasks) {
    if (task.facts && task.facts->host_version &&
        *task.facts->host_version != settings.host_version)
      frames_of_version[*task.facts->host_version].push_back(task.number);
  }
  for (auto& [version, frames] : frames_of_version) {
    session_settings other = settings;
    other.host_version = version;
    if (plugin_session(module_path, other).discovery().accepted)
      continue;
    std::sort(frames.begin(), frames.end());
    return module_path + " does not offer its effector to host version " + std::to_string(version) +
           ", which the facts name for " + (frames.size() == 1 ? "frame " : "frames ") +
           frames_text(frames);
  }
  return "";
}
