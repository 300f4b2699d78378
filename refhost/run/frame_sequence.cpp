#include "refhost/run/frame_sequence.hpp"

#include <algorithm>
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

// After a '%': the characters it makes part of the name.
bool is_escaped_character(char c) {
  return c == '%' || c == '#' || c == '@';
}

[[noreturn]] void bad_pattern(const std::string& path, const std::string& reason) {
  throw usage_error("'" + path + "': " + reason +
                    " (a numbered sequence takes one %d, %0Nd, # or @ run in its file name, "
                    "such as render.%04d.png or render.####.png; %%, %# and %@ are a %, # and @ "
                    "of the name)");
}

struct frame_span {
  std::int32_t first = 0;
  std::int32_t last = 0;
  std::int32_t step = 1;
  std::int64_t count() const { return (std::int64_t{last} - first) / step + 1; }
};

frame_span parse_span(const std::string& part, const std::string& text) {
  frame_span span;
  std::string body = part;
  const std::size_t x = part.find('x');
  if (x != std::string::npos) {
    span.step = parse_integer("--range step", part.substr(x + 1), 1, INT32_MAX);
    body = part.substr(0, x);
  }
  const std::size_t dash = body.find('-');
  if (dash == std::string::npos) {
    if (x != std::string::npos)
      throw usage_error("--range: " + part + " has a step but no FIRST-LAST (such as 1-100x5)");
    span.first = span.last = parse_integer("--range", body, 0, INT32_MAX);
    return span;
  }
  span.first = parse_integer("--range", body.substr(0, dash), 0, INT32_MAX);
  span.last = parse_integer("--range", body.substr(dash + 1), 0, INT32_MAX);
  if (span.last < span.first) {
    throw usage_error("--range: " + (part == text ? text : part + " in " + text) +
                      " ends before it starts (FIRST-LAST, such as 1-24)");
  }
  return span;
}

}  // namespace

frame_list parse_frame_list(const std::string& text, std::int64_t max_count) {
  std::vector<frame_span> spans;
  std::int64_t total = 0;
  for (std::size_t start = 0;;) {
    const std::size_t comma = text.find(',', start);
    const std::string part = text.substr(start, comma - start);
    if (part.empty() && !text.empty())
      throw usage_error("--range: '" + text + "' has an empty part between its commas");
    spans.push_back(parse_span(part, text));
    total += spans.back().count();
    if (comma == std::string::npos)
      break;
    start = comma + 1;
  }
  if (total > max_count) {
    throw usage_error("--range: " + text + " holds " + std::to_string(total) +
                      " frames, more than the " + std::to_string(max_count) + " of one run");
  }
  frame_list list;
  list.frames.reserve(static_cast<std::size_t>(total));
  for (const frame_span& span : spans) {
    for (std::int64_t frame = span.first; frame <= span.last; frame += span.step)
      list.frames.push_back(static_cast<std::int32_t>(frame));
  }
  // A frame given twice would be stamped twice into one file.
  std::vector<std::int32_t> sorted = list.frames;
  std::sort(sorted.begin(), sorted.end());
  const auto twice = std::adjacent_find(sorted.begin(), sorted.end());
  if (twice != sorted.end())
    throw usage_error("--range: frame " + std::to_string(*twice) + " is given twice in " + text);
  return list;
}

std::string frames_text(const std::vector<std::int32_t>& frames) {
  std::vector<std::string> parts;
  for (std::size_t at = 0; at < frames.size();) {
    std::size_t end = at;
    while (end + 1 < frames.size() && frames[end + 1] == std::int64_t{frames[end]} + 1) ++end;
    parts.push_back(std::to_string(frames[at]) +
                    (end > at ? "-" + std::to_string(frames[end]) : std::string()));
    at = end + 1;
  }
  constexpr std::size_t shown = 6;
  std::string text;
  for (std::size_t k = 0; k < parts.size() && k < shown; ++k) {
    const bool last = k + 1 == parts.size() || k + 1 == shown;
    text += (k == 0 ? "" : last && parts.size() <= shown ? " and " : ", ") + parts[k];
  }
  if (parts.size() > shown)
    text += " and " + std::to_string(parts.size() - shown) + " more ranges";
  return text;
}

std::optional<frame_pattern> frame_pattern::find(const std::string& path) {
  frame_pattern pattern;
  pattern.text_ = path;
  bool found = false;
  std::string* text = &pattern.before_;
  // '#' and '@' are frame numbers only in the file name: folders of such
  // names ("renders@2x/") stay what they are.
  std::size_t name_start = 0;
  for (std::size_t at = 0; at < path.size(); ++at) {
    if (is_separator(path[at]))
      name_start = at + 1;
  }
  const auto take_number = [&](int width) {
    if (found)
      bad_pattern(path, "two frame numbers");
    found = true;
    pattern.width_ = width;
    text = &pattern.after_;
  };
  for (std::size_t at = 0; at < path.size(); ++at) {
    const char c = path[at];
    const char next = at + 1 < path.size() ? path[at + 1] : '\0';
    if ((c == '#' || c == '@') && at >= name_start) {
      std::size_t end = at;
      while (end < path.size() && path[end] == c) ++end;
      const int run = static_cast<int>(end - at);
      take_number(c == '#' && run == 1 ? 4 : run);
      at = end - 1;
      continue;
    }
    if (c != '%' || next == '\0') {
      *text += c;
      continue;
    }
    if (is_escaped_character(next)) {
      *text += next;
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
    take_number(width);
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
    if (path[at] == '%' && at + 1 < path.size() && is_escaped_character(path[at + 1]))
      ++at;
    literal += path[at];
  }
  return literal;
}

std::string frame_pattern::path_for(std::int32_t frame) const {
  std::string digits = std::to_string(frame);
  if (static_cast<int>(digits.size()) < width_)
    digits.insert(0, static_cast<std::size_t>(width_) - digits.size(), '0');
  return before_ + digits + after_;
}
