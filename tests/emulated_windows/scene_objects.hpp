#pragma once
// Scene objects the module's own run-time type test accepts. The shape
// adapter asks dynamic_cast whether a shape_class is a part_class, and
// that test compares type_info objects; so the objects the host hands in
// must carry the module's own type_info. They are found in the loaded
// image without symbols (the shipped DLL is stripped): the Itanium ABI
// lays a type_info out as its table pointer, its mangled name and, for a
// class with one base, the base's type_info, so the type_info of
// part_class is the word pair (table, name) whose name is "10part_class",
// and its third word leads to shape_class's.

#include <cstdint>
#include <string>

class foreign_plugin;

struct module_scene_types {
  std::uint32_t part_class = 0;   // type_info of part_class
  std::uint32_t shape_class = 0;  // type_info of shape_class, part_class's base
  // The table of __si_class_type_info, which type_info objects of classes
  // with one public base point to.
  std::uint32_t single_base_type_table = 0;
};

// Throws emulation_error when the image holds no such type_info.
module_scene_types find_module_scene_types(foreign_plugin& dll);

// A type_info in host memory for a class `mangled_name` with one base.
std::uint32_t make_single_base_type(foreign_plugin& dll, const module_scene_types& types,
                                    const std::string& mangled_name, std::uint32_t base);

// An object in host memory whose dynamic type `type_info` names: a table
// pointer whose table holds the offset to the top (0), the type_info and
// two destructor entries that fail the call if the module ever uses them.
std::uint32_t make_scene_object(foreign_plugin& dll, std::uint32_t type_info);
