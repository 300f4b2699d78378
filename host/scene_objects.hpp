#pragma once
// The two scene object classes that appear in the plug-in interface: a
// shape, and the part, a shape that the host can hand to part operations.
// Only their run-time type matters to the plug-in.

class shape_class {
 public:
  virtual ~shape_class() = default;
};

class part_class : public shape_class {};
