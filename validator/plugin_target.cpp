#include "validator/plugin_target.hpp"

#include "host/component_table.hpp"

std::string call_problem(const std::string& what, const target_call& call) {
  if (call.clean())
    return std::string();
  if (call.validator_gap)
    throw validator_gap(what + " " + call.fault);
  return what + " " + call.fault;
}

std::string return_problem(const std::string& what, const target_call& call) {
  return call.returned ? std::string() : call_problem(what, call);
}

component_ref plugin_target::create_component(std::string& problem) {
  component_ref component = 0;
  bool kept = true;
  const target_call created = create_interface(component, kept);
  const std::string name = name_of(entry_point::create_interface);
  problem = return_problem(name, created);
  if (problem.empty() && component == 0)
    problem = name + " stored no component";
  return problem.empty() ? component : 0;
}

contract_frame& plugin_target::new_frame(std::int32_t width, std::int32_t height, bool aborted) {
  contract.frames.push_back(std::make_unique<contract_frame>(
      contract.ledger, contract.job_application, width, height, aborted));
  return *contract.frames.back();
}

std::string plugin_target::hook_calls::problem() const {
  std::string text = call_problem("begin_render (slot 205)", begin);
  const std::string after = begin.clean() ? call_problem("end_render (slot 207)", end) : "";
  return text.empty() ? after : text;
}

plugin_target::hook_calls plugin_target::render(component_ref component, contract_frame& frame) {
  hook_calls calls;
  calls.begin = begin_render(component, frame);
  if (calls.begin.clean())
    calls.end = end_render(component);
  frame.job.books().gone = true;
  return calls;
}

std::string entry_name(int slot) {
  const std::string at = " (slot " + std::to_string(slot) + ")";
  static const char* const named[] = {"QueryInterface", "AddRef", "Release", "the destructor",
                                      "the validity query"};
  if (slot >= 0 && slot < static_cast<int>(std::size(named)))
    return named[slot] + at;
  if (slot == table_slot::begin_render)
    return "begin_render" + at;
  if (slot == table_slot::end_render)
    return "end_render" + at;
  if (slot == table_slot::get_plugin_uuid)
    return "get_plugin_uuid" + at;
  const table_group& group = group_of_slot(slot);
  const std::string group_name = group.name;
  const std::string position = std::to_string(slot - group.first_slot + 1);
  const std::size_t blank = group_name.find(' ');
  if (blank != std::string::npos)
    return group_name.substr(0, blank) + " reserved entry " + position + at;
  return group_name + " operation " + position + at;
}
