#pragma once
// The host's effector interface: 16 operations, the begin and end hooks among
// them, then 184 reserved entries. Slots 205 to 220 and 221 to 404 of the
// component's table.

#include <cstdint>

#include <boost/preprocessor/cat.hpp>
#include <boost/preprocessor/iteration/local.hpp>

#include "host/abi.hpp"
#include "host/host_application.hpp"
#include "host/plugin_interface.hpp"
#include "host/render_job.hpp"

#define VELLOQ_EFFECTOR_reserved(z, n, _)                                           \
  [[noreturn]] virtual void VELLOQ_THISCALL BOOST_PP_CAT(effector_reserved_, n)() { \
    throw "invalid interface effector_interface";                                   \
  }

class effector_interface : public plugin_interface {
 public:
  // The two hooks are tagged below; every other entry, reserved ones included:
  // [when: after create; thread: render; re-entrant: no]

  // 1, slot 205. Called when a render starts, before any pixel is rendered.
  // [when: per render; thread: render; re-entrant: no]
  virtual void VELLOQ_THISCALL begin_render(RenderJob* job, HostApplication* application,
                                            std::int32_t) = 0;
  virtual void VELLOQ_THISCALL effector_op_2(std::int32_t, std::int32_t) {}
  // 3, slot 207. Called when the picture of that render is complete; the
  // render job handed to the begin hook is still alive.
  // [when: per render; thread: render; re-entrant: no]
  virtual void VELLOQ_THISCALL end_render(std::int32_t) = 0;
  virtual void VELLOQ_THISCALL effector_op_4() {}
  virtual void VELLOQ_THISCALL effector_op_5(std::int32_t) {}
  virtual bool VELLOQ_THISCALL effector_op_6(std::int32_t) { return false; }
  virtual bool VELLOQ_THISCALL effector_op_7(std::int32_t) { return false; }
  virtual bool VELLOQ_THISCALL effector_op_8(std::int32_t) { return false; }
  virtual void VELLOQ_THISCALL effector_op_9(std::int32_t) {}
  virtual bool VELLOQ_THISCALL effector_op_10(std::int32_t) { return false; }
  virtual bool VELLOQ_THISCALL effector_op_11(std::int32_t) { return false; }
  virtual void VELLOQ_THISCALL effector_op_12(std::int32_t, std::int32_t, std::int32_t) {}
  virtual bool VELLOQ_THISCALL effector_op_13(std::int32_t) { return false; }
  virtual void VELLOQ_THISCALL effector_op_14(std::int32_t, std::int32_t, std::int32_t,
                                              std::int32_t) {}
  virtual void VELLOQ_THISCALL effector_op_15(std::int32_t, std::int32_t) {}
  virtual bool VELLOQ_THISCALL effector_op_16(std::int32_t) { return false; }
  // Numbered by file iteration, as plugin_interface's reserved entries.
#define BOOST_PP_LOCAL_MACRO(n) VELLOQ_EFFECTOR_reserved(~, n, ~)
#define BOOST_PP_LOCAL_LIMITS (17, 200)
#include BOOST_PP_LOCAL_ITERATE()

 protected:
  effector_interface() = default;
  ~effector_interface() = default;
};

inline constexpr int effector_interface_first_slot = 205;
inline constexpr int effector_interface_operations = 16;
inline constexpr int effector_interface_reserved = 184;
inline constexpr int component_table_slots = 405;
