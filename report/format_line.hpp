#pragma once
// A report line from a Boost.Format pattern and its arguments.
//
// Boost.Format writes each argument through a stream of its own whose
// exception mask is empty, so an allocation failing in that stream's buffer
// would only mark the stream bad: the field would come out empty in a line
// that looks whole, and the picture would be stamped with it. Each argument
// here first asks its stream to throw on badbit, which makes the stream
// rethrow the failure (or throw ios_base::failure); the end hook then leaves
// with the picture untouched, as it does for every other allocation.

#include <ios>
#include <ostream>
#include <string>

#include <boost/format.hpp>

template <typename T>
struct throwing_field {
  const T& value;
};

template <typename T>
std::ostream& operator<<(std::ostream& stream, const throwing_field<T>& field) {
  stream.exceptions(stream.exceptions() | std::ios_base::badbit);
  return stream << field.value;
}

template <typename... Args>
std::string format_line(const char* pattern, const Args&... args) {
  boost::format line(pattern);
  (line % ... % throwing_field<Args>{args});
  return line.str();
}
