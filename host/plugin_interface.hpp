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
#include <boost/preprocessor/repetition/repeat_from_to.hpp>
#include <boost/preprocessor/seq/elem.hpp>
#include <boost/preprocessor/seq/for_each.hpp>

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

// Runs of (kind)(first)(last), positions counted from 1 within the group.
#define VELLOQ_PLUGIN_RUNS                                                                        \
  ((value0)(1)(4))((nothing)(5)(18))((value0)(19)(19))((nothing)(20)(21))((value0)(22)(22))(      \
      (empty)(23)(27))((nothing)(28)(28))((empty)(29)(31))((answer_410000)(32)(32))(              \
      (empty)(33)(36))((true)(37)(37))((false)(38)(39))((value0)(40)(47))((nothing)(48)(48))(     \
      (false)(49)(52))((true)(53)(56))((false)(57)(57))((true)(58)(58))((part_variant)(59)(59))(  \
      (empty)(60)(62))((false)(63)(63))((value1)(64)(64))((nothing)(65)(65))((false)(66)(66))(    \
      (nothing)(67)(69))((false)(70)(70))((nothing)(71)(71))((empty)(72)(73))((nothing)(74)(74))( \
      (empty)(75)(77))((value0)(78)(78))((nothing)(79)(79))((empty)(80)(82))((value0)(83)(83))(   \
      (nothing)(84)(84))((empty)(85)(89))((value0)(90)(90))((nothing)(91)(94))((false)(95)(95))(  \
      (nothing)(96)(97))((second_argument)(98)(98))((empty)(99)(99))((value0)(100)(100))(         \
      (empty)(101)(101))((plugin_uuid)(102)(102))((nil_uuid)(103)(103))((empty)(104)(105))(       \
      (nothing)(106)(107))((empty)(108)(108))((shape_adapter)(109)(109))((empty)(110)(110))(      \
      (nothing)(111)(111))((false)(112)(113))((zero_byte_true)(114)(114))((value0)(115)(115))(    \
      (empty)(116)(118))((false)(119)(119))((nothing)(120)(120))

#define VELLOQ_PLUGIN_RUN(r, _, run)                                                          \
  BOOST_PP_REPEAT_FROM_TO(BOOST_PP_SEQ_ELEM(1, run), BOOST_PP_INC(BOOST_PP_SEQ_ELEM(2, run)), \
                          BOOST_PP_CAT(VELLOQ_PLUGIN_, BOOST_PP_SEQ_ELEM(0, run)), ~)

class plugin_interface : public unknown_interface {
 public:
  // Slots 5 to 124: the operations; 125 to 204: the reserved entries.
  // Every one of them: [when: after create; thread: render; re-entrant: no]
  BOOST_PP_SEQ_FOR_EACH(VELLOQ_PLUGIN_RUN, ~, VELLOQ_PLUGIN_RUNS)
  BOOST_PP_REPEAT_FROM_TO(121, 201, VELLOQ_PLUGIN_reserved, ~)

 protected:
  plugin_interface() = default;
  ~plugin_interface() = default;
};

inline constexpr int plugin_interface_first_slot = 5;
inline constexpr int plugin_interface_operations = 120;
inline constexpr int plugin_interface_reserved = 80;
