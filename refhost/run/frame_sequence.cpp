#include "refhost/run/frame_sequence.hpp"

#include <cctype>
#include <climits>
#include <string>

#include "refhost/run/command_line.hpp"

namespace {

bool is_separator(char c) {
#if defined(_WIN32)
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

[[noreturn]] void bad_pattern(const std::string& path, const std::string& reason) {
  throw usage_error("'" + path + "': " + reason +
                    " (a numbered sequence takes one %d or %0Nd in its file name, such as "
                    "render.%04d.png; %% is a % of the name)");
}

}  // namespace

frame_range parse_frame_range(const std::string& text, std::int64_t max_count) {
  const std::size_t dash = text.find('-');
  frame_range range;
  if (dash == std::string::npos) {
    range.first = range.last = parse_integer("--range", text, 0, INT32_MAX);
  } else {
    range.first = parse_integer("--range", text.substr(0, dash), 0, INT32_MAX);
    range.last = parse_integer("--range", text.substr(dash + 1), 0, INT32_MAX);
  }
  if (range.last < range.first) {
    throw usage_error("--range: " + text + " ends before it starts (FIRST-LAST, such as 1-24)");
  }
  if (range.count() > max_count) {
    throw usage_error("--range: " + text + " holds " + std::to_string(range.count()) +
                      " frames, more than the " + std::to_string(max_count) + " of one run");
  }
  return range;
}

std::optional<frame_pattern> frame_pattern::find(const std::string& path) {
  frame_pattern pattern;
  pattern.text_ = path;
  bool found = false;
  std::string* text = &pattern.before_;
  for (std::size_t at = 0; at < path.size(); ++at) {
    const char next = at + 1 < path.size() ? path[at + 1] : '\0';
    if (path[at] != '%' || next == '\0') {
      *text += path[at];
      continue;
    }
    if (next == '%') {
      *text += '%';
      ++at;
      continue;
    }
    // %d or %0Nd with one digit N.
    std::size_t end = at + 1;
    int width = 0;
    if (end + 1 < path.size() && path[end] == '0' && path[end + 1] >= '1' && path[end + 1] <= '9') {
      width = path[end + 1] - '0';
      end += 2;
    }
    if (end >= path.size() || path[end] != 'd') {
      // What printf would take for a number is a mistake, not a name:
      // "100%.png" is a name, "%5d" and "%s" are not.
      if (std::isdigit(static_cast<unsigned char>(next)) ||
          std::string("-+diouxXcs").find(next) != std::string::npos)
        bad_pattern(path, "'%' that is not a frame number");
      *text += '%';
      continue;
    }
    if (found)
      bad_pattern(path, "two frame numbers");
    found = true;
    pattern.width_ = width;
    text = &pattern.after_;
    at = end;
  }
  if (!found)
    return std::nullopt;
  for (char c : pattern.after_) {
    if (is_separator(c))
      bad_pattern(path, "the frame number is not in the file name");
  }
  return pattern;
}

std::string literal_path(const std::string& path) {
  std::string literal;
  for (std::size_t at = 0; at < path.size(); ++at) {
    literal += path[at];
    if (path[at] == '%' && at + 1 < path.size() && path[at + 1] == '%')
      ++at;
  }
  return literal;
}

std::string frame_pattern::path_for(std::int32_t frame) const {
  std::string digits = std::to_string(frame);
  if (static_cast<int>(digits.size()) < width_)
    digits.insert(0, static_cast<std::size_t>(width_) - digits.size(), '0');
  return before_ + digits + after_;
}
