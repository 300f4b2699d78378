// The machine section: gathered afresh from the running system every render.

#include "plugin/velloq_component.hpp"
#include "report/machine_text.hpp"
#include "report/system_platform.hpp"

std::string velloq_component::describe_machine(HostApplication*) {
  return describe_machine_section(active_platform());
}
