#pragma once
// The host's generic plug-in interface: 120 operations with fixed default
// answers, then 80 reserved entries. The host calls them by position, so the
// order below is the contract; slot numbers start at 5 (after IUnknown, the
// deleting destructor and the validity query of unknown_interface).
//
// The host fixes what each default answers but not how many arguments most
// of them take. Since thiscall has the callee pop its arguments, we chose one
// int32 for every default whose count is not fixed (the empty-result ones:
// the result location and one int32; entry 98: two pointer-sized values; 114:
// a byte location and one int32); the counts that are fixed (entries 1, 32,
// 59, 102, 103 and 109) are as the host defines them.

#include <cstdint>

#include <boost/preprocessor/arithmetic/inc.hpp>
#include <boost/preprocessor/cat.hpp>
#include <boost/preprocessor/iteration/local.hpp>
#include <boost/preprocessor/seq/for_each_i.hpp>

#include "host/abi.hpp"
#include "host/scene_objects.hpp"
#include "host/types.hpp"
#include "host/unknown_interface.hpp"

// One macro per kind of default; n is the entry's position in the group.
#define VELLOQ_PLUGIN_value0(z, n, _)                                              \
  virtual std::int32_t VELLOQ_THISCALL BOOST_PP_CAT(plugin_op_, n)(std::int32_t) { \
    return 0;                                                                      \
  }
#define VELLOQ_PLUGIN_value1(z, n, _)                                              \
  virtual std::int32_t VELLOQ_THISCALL BOOST_PP_CAT(plugin_op_, n)(std::int32_t) { \
    return 1;                                                                      \
  }
#define VELLOQ_PLUGIN_nothing(z, n, _) \
  virtual void VELLOQ_THISCALL BOOST_PP_CAT(plugin_op_, n)(std::int32_t) {}
#define VELLOQ_PLUGIN_false(z, n, _)                                       \
  virtual bool VELLOQ_THISCALL BOOST_PP_CAT(plugin_op_, n)(std::int32_t) { \
    return false;                                                          \
  }
#define VELLOQ_PLUGIN_true(z, n, _)                                        \
  virtual bool VELLOQ_THISCALL BOOST_PP_CAT(plugin_op_, n)(std::int32_t) { \
    return true;                                                           \
  }
#define VELLOQ_PLUGIN_empty(z, n, _)                                                       \
  virtual empty_result* VELLOQ_THISCALL BOOST_PP_CAT(plugin_op_, n)(empty_result * result, \
                                                                    std::int32_t) {        \
    result->value = 0;                                                                     \
    return result;                                                                         \
  }
#define VELLOQ_PLUGIN_answer_410000(z, n, _)                           \
  virtual std::int32_t VELLOQ_THISCALL BOOST_PP_CAT(plugin_op_, n)() { \
    return 410000;                                                     \
  }
#define VELLOQ_PLUGIN_second_argument(z, n, _)                                     \
  virtual void* VELLOQ_THISCALL BOOST_PP_CAT(plugin_op_, n)(void*, void* second) { \
    return second;                                                                 \
  }
#define VELLOQ_PLUGIN_zero_byte_true(z, n, _)                                       \
  virtual bool VELLOQ_THISCALL BOOST_PP_CAT(plugin_op_, n)(std::uint8_t * location, \
                                                           std::int32_t) {          \
    *location = 0;                                                                  \
    return true;                                                                    \
  }
// Entry 59, the part variant of the shape operation (an empty-result default).
#define VELLOQ_PLUGIN_part_variant(z, n, _)                                                    \
  virtual empty_result* VELLOQ_THISCALL part_variant(empty_result* result, part_class*, float, \
                                                     std::int32_t, std::int32_t) {             \
    result->value = 0;                                                                         \
    return result;                                                                             \
  }
// Entry 102: the plug-in's own UUID, defined by the component.
#define VELLOQ_PLUGIN_plugin_uuid(z, n, _) \
  virtual Uuid* VELLOQ_THISCALL get_plugin_uuid(Uuid* result, std::int32_t) = 0;
// Entry 103: the nil Uuid.
#define VELLOQ_PLUGIN_nil_uuid(z, n, _)                                                  \
  virtual Uuid* VELLOQ_THISCALL BOOST_PP_CAT(plugin_op_, n)(Uuid * result, std::int32_t, \
                                                            std::int32_t) {              \
    *result = Uuid{{0, 0, 0, 0}};                                                        \
    return result;                                                                       \
  }
// Entry 109: forwards to the part variant when the shape is a part.
#define VELLOQ_PLUGIN_shape_adapter(z, n, _)                                                    \
  virtual empty_result* VELLOQ_THISCALL shape_adapter(empty_result* result, shape_class* shape, \
                                                      std::int32_t, float value,                \
                                                      std::int32_t further, std::int32_t) {     \
    if (auto* part = dynamic_cast<part_class*>(shape)) {                                        \
      return part_variant(result, part, value, further, 0);                                     \
    }                                                                                           \
    return nullptr;                                                                             \
  }
#define VELLOQ_PLUGIN_reserved(z, n, _)                                           \
  [[noreturn]] virtual void VELLOQ_THISCALL BOOST_PP_CAT(plugin_reserved_, n)() { \
    throw "invalid interface plugin_interface";                                   \
  }

// Each operation's default, entries 1 to 120 in table order.
// clang-format off
#define VELLOQ_PLUGIN_DEFAULTS \
  /*   1 */ (value0)(value0)(value0)(value0)(nothing)(nothing) \
  /*   7 */ (nothing)(nothing)(nothing)(nothing)(nothing)(nothing) \
  /*  13 */ (nothing)(nothing)(nothing)(nothing)(nothing)(nothing) \
  /*  19 */ (value0)(nothing)(nothing)(value0)(empty)(empty) \
  /*  25 */ (empty)(empty)(empty)(nothing)(empty)(empty) \
  /*  31 */ (empty)(answer_410000)(empty)(empty)(empty)(empty) \
  /*  37 */ (true)(false)(false)(value0)(value0)(value0) \
  /*  43 */ (value0)(value0)(value0)(value0)(value0)(nothing) \
  /*  49 */ (false)(false)(false)(false)(true)(true) \
  /*  55 */ (true)(true)(false)(true)(part_variant)(empty) \
  /*  61 */ (empty)(empty)(false)(value1)(nothing)(false) \
  /*  67 */ (nothing)(nothing)(nothing)(false)(nothing)(empty) \
  /*  73 */ (empty)(nothing)(empty)(empty)(empty)(value0) \
  /*  79 */ (nothing)(empty)(empty)(empty)(value0)(nothing) \
  /*  85 */ (empty)(empty)(empty)(empty)(empty)(value0) \
  /*  91 */ (nothing)(nothing)(nothing)(nothing)(false)(nothing) \
  /*  97 */ (nothing)(second_argument)(empty)(value0)(empty)(plugin_uuid) \
  /* 103 */ (nil_uuid)(empty)(empty)(nothing)(nothing)(empty) \
  /* 109 */ (shape_adapter)(empty)(nothing)(false)(false)(zero_byte_true) \
  /* 115 */ (value0)(empty)(empty)(empty)(false)(nothing)
// clang-format on
#define VELLOQ_PLUGIN_ENTRY(r, _, i, kind) BOOST_PP_CAT(VELLOQ_PLUGIN_, kind)(~, BOOST_PP_INC(i), ~)

class plugin_interface : public unknown_interface {
 public:
  // Slots 5 to 124: the operations; 125 to 204: the reserved entries.
  // Every one of them: [when: after create; thread: render; re-entrant: no]
  BOOST_PP_SEQ_FOR_EACH_I(VELLOQ_PLUGIN_ENTRY, ~, VELLOQ_PLUGIN_DEFAULTS)
  // Numbered by file iteration: BOOST_PP_REPEAT_FROM_TO adds the first
  // number to each index in the preprocessor, which costs every file that
  // includes this header seconds.
#define BOOST_PP_LOCAL_MACRO(n) VELLOQ_PLUGIN_reserved(~, n, ~)
#define BOOST_PP_LOCAL_LIMITS (121, 200)
#include BOOST_PP_LOCAL_ITERATE()

 protected:
  plugin_interface() = default;
  ~plugin_interface() = default;
};

inline constexpr int plugin_interface_first_slot = 5;
inline constexpr int plugin_interface_operations = 120;
inline constexpr int plugin_interface_reserved = 80;
