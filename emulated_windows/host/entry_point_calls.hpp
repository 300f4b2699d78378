#pragma once
// The eight exports as the emulated host calls them, taken from the list
// that declares them (host/plugin_entry_points.hpp): each one's decorated
// name and its number of 32-bit arguments, so that a call names an entry
// point, never a string, and passes exactly the words it pops.

#include <array>
#include <cstdint>

#include "host/plugin_entry_points.hpp"

namespace entry_point_detail {
template <class Function>
struct arity;
template <class Result, class... Parameters>
struct arity<Result(Parameters...)> {
  static constexpr int value = sizeof...(Parameters);
};
// The byte count that ends MSVC's decoration of a name.
constexpr int decorated_bytes(const char* name) {
  int at = 0;
  while (name[at] != '\0' && name[at] != '@') ++at;
  int bytes = 0;
  for (int i = at + 1; name[i] != '\0'; ++i) bytes = bytes * 10 + (name[i] - '0');
  return bytes;
}
}  // namespace entry_point_detail

struct entry_point_facts {
  const char* decorated_name;
  const char* plain_name;
  int arguments;  // 32-bit words, all popped by the callee
};

inline constexpr entry_point_facts entry_point_table[entry_point_count] = {
#define VELLOQ_ENTRY_POINT_FACTS(name, exported, result, parameters) \
  {exported, #name, entry_point_detail::arity<name##_fn>::value},
    VELLOQ_ENTRY_POINTS(VELLOQ_ENTRY_POINT_FACTS)
#undef VELLOQ_ENTRY_POINT_FACTS
};

// Every pointer and number an export takes is one 32-bit word on the host's
// side, so the decoration's byte count is four times the parameters.
#define VELLOQ_ENTRY_POINT_BYTES(name, exported, result, parameters) \
  static_assert(entry_point_detail::decorated_bytes(exported) ==     \
                    4 * entry_point_detail::arity<name##_fn>::value, \
                "the decorated name of " #name " does not count its parameters' bytes");
VELLOQ_ENTRY_POINTS(VELLOQ_ENTRY_POINT_BYTES)
#undef VELLOQ_ENTRY_POINT_BYTES

constexpr const entry_point_facts& facts_of(entry_point e) {
  return entry_point_table[static_cast<int>(e)];
}

inline constexpr entry_point every_entry_point[entry_point_count] = {
#define VELLOQ_ENTRY_POINT_VALUE(name, exported, result, parameters) entry_point::name,
    VELLOQ_ENTRY_POINTS(VELLOQ_ENTRY_POINT_VALUE)
#undef VELLOQ_ENTRY_POINT_VALUE
};

// The words one call of `E` passes.
template <entry_point E>
using entry_point_words = std::array<std::uint32_t, facts_of(E).arguments>;
