# Compiles SOURCE twice with COMPILER: with -DCONTROL_DEFINE it must compile,
# without it it must fail with EXPECTED in the compiler's messages.
# Inputs: COMPILER, SOURCE, INCLUDE, CONTROL_DEFINE, EXPECTED.
set(common -std=c++17 -fsyntax-only "-I${INCLUDE}" "${SOURCE}")
execute_process(COMMAND "${COMPILER}" "-D${CONTROL_DEFINE}" ${common}
                RESULT_VARIABLE control_result ERROR_VARIABLE control_errors)
if(NOT control_result EQUAL 0)
  message(FATAL_ERROR "the control build of ${SOURCE} failed:\n${control_errors}")
endif()
execute_process(COMMAND "${COMPILER}" ${common} RESULT_VARIABLE result ERROR_VARIABLE errors)
if(result EQUAL 0)
  message(FATAL_ERROR "${SOURCE} compiled, but must not")
endif()
string(FIND "${errors}" "${EXPECTED}" found)
if(found EQUAL -1)
  message(FATAL_ERROR "${SOURCE} failed, but not with \"${EXPECTED}\":\n${errors}")
endif()
message(STATUS "${SOURCE} fails as it must: ${EXPECTED}")
