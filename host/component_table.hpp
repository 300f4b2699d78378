#pragma once
// The component's table as the host calls it, read from the interfaces'
// declarations (unknown_interface.hpp, plugin_interface.hpp,
// effector_interface.hpp): its groups in order and, for each of its 405
// entries, the words it takes after `this` and how it answers. Hosts and
// tools that call a component entry by entry include it; the plug-in does
// not need it.

#include <array>
#include <cstdint>
#include <tuple>
#include <type_traits>

#include <boost/preprocessor/arithmetic/inc.hpp>
#include <boost/preprocessor/cat.hpp>
#include <boost/preprocessor/comparison/equal.hpp>
#include <boost/preprocessor/control/iif.hpp>
#include <boost/preprocessor/iteration/local.hpp>
#include <boost/preprocessor/seq/for_each_i.hpp>

#include "host/effector_interface.hpp"

// How an entry answers.
enum class entry_answer : std::uint8_t {
  nothing,   // void
  word,      // a 32-bit value in EAX
  boolean,   // a bool in AL
  location,  // a record through the location its first argument gives (MSVC
             // returns a class by value so), which EAX answers again
  throws,    // a reserved entry: throws instead of returning
};

// The most words an entry takes after `this`.
inline constexpr int most_entry_arguments = 7;

struct table_entry {
  entry_answer answer = entry_answer::nothing;
  int arguments = 0;  // 32-bit words after `this`
  // For each argument: 0 a plain word, else a pointer to that many bytes
  // the entry may read or write. A pointer to a scene object is a plain
  // word (null), since only the host has scene objects.
  std::array<std::uint8_t, most_entry_arguments> pointee_bytes{};
};

namespace component_table_detail {

template <class T>
constexpr std::uint8_t pointee_bytes() {
  if constexpr (!std::is_pointer_v<T>)
    return 0;
  else {
    using pointee = std::remove_cv_t<std::remove_pointer_t<T>>;
    if constexpr (std::is_void_v<pointee>)
      return 4;
    else if constexpr (std::is_polymorphic_v<pointee>)
      return 0;
    else
      return static_cast<std::uint8_t>(sizeof(pointee));
  }
}

template <class Result, class... Arguments>
constexpr entry_answer answer_of() {
  if constexpr (std::is_void_v<Result>)
    return entry_answer::nothing;
  else if constexpr (std::is_same_v<Result, bool>)
    return entry_answer::boolean;
  else if constexpr (sizeof...(Arguments) > 0) {
    using first = std::tuple_element_t<0, std::tuple<Arguments...>>;
    if constexpr (std::is_same_v<Result, first> && std::is_pointer_v<Result> &&
                  std::is_class_v<std::remove_pointer_t<Result>>)
      return entry_answer::location;
    else
      return entry_answer::word;
  } else
    return entry_answer::word;
}

template <class Class, class Result, class... Arguments>
constexpr table_entry entry_of(Result (Class::*)(Arguments...)) {
  static_assert(sizeof...(Arguments) <= most_entry_arguments, "more arguments than listed");
  table_entry entry;
  entry.answer = answer_of<Result, Arguments...>();
  entry.arguments = static_cast<int>(sizeof...(Arguments));
  int i = 0;
  ((entry.pointee_bytes[static_cast<std::size_t>(i++)] = pointee_bytes<Arguments>()), ...);
  return entry;
}

template <class Member>
constexpr table_entry reserved_entry_of(Member member) {
  table_entry entry = entry_of(member);
  entry.answer = entry_answer::throws;
  return entry;
}

// The plug-in operations in table order, from their defaults.
#define VELLOQ_TABLE_ENTRY_OP(z, n, _) \
  component_table_detail::entry_of(&plugin_interface::BOOST_PP_CAT(plugin_op_, n)),
#define VELLOQ_TABLE_ENTRY_value0 VELLOQ_TABLE_ENTRY_OP
#define VELLOQ_TABLE_ENTRY_value1 VELLOQ_TABLE_ENTRY_OP
#define VELLOQ_TABLE_ENTRY_nothing VELLOQ_TABLE_ENTRY_OP
#define VELLOQ_TABLE_ENTRY_false VELLOQ_TABLE_ENTRY_OP
#define VELLOQ_TABLE_ENTRY_true VELLOQ_TABLE_ENTRY_OP
#define VELLOQ_TABLE_ENTRY_empty VELLOQ_TABLE_ENTRY_OP
#define VELLOQ_TABLE_ENTRY_answer_410000 VELLOQ_TABLE_ENTRY_OP
#define VELLOQ_TABLE_ENTRY_second_argument VELLOQ_TABLE_ENTRY_OP
#define VELLOQ_TABLE_ENTRY_zero_byte_true VELLOQ_TABLE_ENTRY_OP
#define VELLOQ_TABLE_ENTRY_nil_uuid VELLOQ_TABLE_ENTRY_OP
#define VELLOQ_TABLE_ENTRY_part_variant(z, n, _) \
  component_table_detail::entry_of(&plugin_interface::part_variant),
#define VELLOQ_TABLE_ENTRY_plugin_uuid(z, n, _) \
  component_table_detail::entry_of(&plugin_interface::get_plugin_uuid),
#define VELLOQ_TABLE_ENTRY_shape_adapter(z, n, _) \
  component_table_detail::entry_of(&plugin_interface::shape_adapter),
#define VELLOQ_TABLE_ENTRY_PLUGIN(r, _, i, kind) \
  BOOST_PP_CAT(VELLOQ_TABLE_ENTRY_, kind)(~, BOOST_PP_INC(i), ~)
#define VELLOQ_TABLE_ENTRY_PLUGIN_RESERVED(z, n, _) \
  component_table_detail::reserved_entry_of(&plugin_interface::BOOST_PP_CAT(plugin_reserved_, n)),
// The effector operations: the two hooks by name, the others numbered.
#define VELLOQ_TABLE_ENTRY_EFFECTOR_NAME(n)        \
  BOOST_PP_IIF(BOOST_PP_EQUAL(n, 1), begin_render, \
               BOOST_PP_IIF(BOOST_PP_EQUAL(n, 3), end_render, BOOST_PP_CAT(effector_op_, n)))
#define VELLOQ_TABLE_ENTRY_EFFECTOR(z, n, _) \
  component_table_detail::entry_of(&effector_interface::VELLOQ_TABLE_ENTRY_EFFECTOR_NAME(n)),
#define VELLOQ_TABLE_ENTRY_EFFECTOR_RESERVED(z, n, _) \
  component_table_detail::reserved_entry_of(          \
      &effector_interface::BOOST_PP_CAT(effector_reserved_, n)),

inline constexpr table_entry declared_entries[] = {
    entry_of(&IUnknown::QueryInterface),
    entry_of(&IUnknown::AddRef),
    entry_of(&IUnknown::Release),
    entry_of(&unknown_interface::delete_this),
    entry_of(&unknown_interface::is_valid_interface),
    BOOST_PP_SEQ_FOR_EACH_I(VELLOQ_TABLE_ENTRY_PLUGIN, ~, VELLOQ_PLUGIN_DEFAULTS)
#define BOOST_PP_LOCAL_MACRO(n) VELLOQ_TABLE_ENTRY_PLUGIN_RESERVED(~, n, ~)
#define BOOST_PP_LOCAL_LIMITS (121, 200)
#include BOOST_PP_LOCAL_ITERATE()
#define BOOST_PP_LOCAL_MACRO(n) VELLOQ_TABLE_ENTRY_EFFECTOR(~, n, ~)
#define BOOST_PP_LOCAL_LIMITS (1, 16)
#include BOOST_PP_LOCAL_ITERATE()
#define BOOST_PP_LOCAL_MACRO(n) VELLOQ_TABLE_ENTRY_EFFECTOR_RESERVED(~, n, ~)
#define BOOST_PP_LOCAL_LIMITS (17, 200)
#include BOOST_PP_LOCAL_ITERATE()
};

#undef VELLOQ_TABLE_ENTRY_OP
#undef VELLOQ_TABLE_ENTRY_value0
#undef VELLOQ_TABLE_ENTRY_value1
#undef VELLOQ_TABLE_ENTRY_nothing
#undef VELLOQ_TABLE_ENTRY_false
#undef VELLOQ_TABLE_ENTRY_true
#undef VELLOQ_TABLE_ENTRY_empty
#undef VELLOQ_TABLE_ENTRY_answer_410000
#undef VELLOQ_TABLE_ENTRY_second_argument
#undef VELLOQ_TABLE_ENTRY_zero_byte_true
#undef VELLOQ_TABLE_ENTRY_nil_uuid
#undef VELLOQ_TABLE_ENTRY_part_variant
#undef VELLOQ_TABLE_ENTRY_plugin_uuid
#undef VELLOQ_TABLE_ENTRY_shape_adapter
#undef VELLOQ_TABLE_ENTRY_PLUGIN
#undef VELLOQ_TABLE_ENTRY_PLUGIN_RESERVED
#undef VELLOQ_TABLE_ENTRY_EFFECTOR_NAME
#undef VELLOQ_TABLE_ENTRY_EFFECTOR
#undef VELLOQ_TABLE_ENTRY_EFFECTOR_RESERVED

}  // namespace component_table_detail

// Every entry, by slot.
inline constexpr const table_entry (&component_table)[component_table_slots] =
    component_table_detail::declared_entries;
static_assert(std::size(component_table_detail::declared_entries) == component_table_slots,
              "the declarations give the table another size");

// The groups in table order, as the host lays the table out.
struct table_group {
  const char* name;  // "plugin_interface reserved"
  int first_slot, count;
  bool com = false;  // called with the COM convention (`this` on the stack)
};
inline constexpr table_group component_table_groups[] = {
    {"IUnknown", 0, 3, true},
    {"the destructor", 3, 1},
    {"the validity query", 4, 1},
    {"plugin_interface", plugin_interface_first_slot, plugin_interface_operations},
    {"plugin_interface reserved", plugin_interface_first_slot + plugin_interface_operations,
     plugin_interface_reserved},
    {"effector_interface", effector_interface_first_slot, effector_interface_operations},
    {"effector_interface reserved", effector_interface_first_slot + effector_interface_operations,
     effector_interface_reserved},
};

// The group of `slot`.
constexpr const table_group& group_of_slot(int slot) {
  for (const table_group& group : component_table_groups) {
    if (slot >= group.first_slot && slot < group.first_slot + group.count)
      return group;
  }
  return component_table_groups[0];
}

static_assert(effector_interface_first_slot == plugin_interface_first_slot +
                                                   plugin_interface_operations +
                                                   plugin_interface_reserved,
              "the effector group follows the plug-in group");
static_assert(component_table_slots == effector_interface_first_slot +
                                           effector_interface_operations +
                                           effector_interface_reserved,
              "the groups fill the table");
