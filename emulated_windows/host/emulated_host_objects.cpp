#include "emulated_windows/host/emulated_host_objects.hpp"

#include <tuple>
#include <type_traits>
#include <vector>

#include "emulated_windows/host/slot_index.hpp"

// Every operation of the five host objects, once. Each interface's table
// gets AddRef and Release from host_object, then these.
#define VELLOQ_HOST_OPERATIONS(X)           \
  X(HostApplication, get_version)           \
  X(HostApplication, get_services)          \
  X(HostApplication, get_render_settings)   \
  X(HostServices, get_localized_string)     \
  X(HostServices, load_image_resource)      \
  X(HostServices, get_version_text)         \
  X(RenderJob, is_aborted)                  \
  X(RenderJob, get_output_image)            \
  X(RenderJob, get_application)             \
  X(HostImage, get_size)                    \
  X(HostImage, get_pixel)                   \
  X(HostImage, set_pixel)                   \
  X(RenderSettings, get_renderer_uuid)      \
  X(RenderSettings, get_gi_method)          \
  X(RenderSettings, get_irradiance_caching) \
  X(RenderSettings, get_setup_time)         \
  X(RenderSettings, get_rendering_time)     \
  X(RenderSettings, notify_image_changed)
#define VELLOQ_HOST_INTERFACES(X) \
  X(HostApplication) X(HostServices) X(RenderJob) X(HostImage) X(RenderSettings)

namespace {

template <class T>
constexpr bool is_host_object = std::is_base_of_v<host_object, std::remove_cv_t<T>>;

// One stack argument on its way to the native object.
template <class A, class = void>
struct argument {
  argument(emulated_host_objects&, std::uint32_t word) : value(static_cast<A>(word)) {}
  A get() { return value; }
  void write_back(emulated_host_objects&) {}
  const void* local() const { return nullptr; }
  std::uint32_t address() const { return 0; }
  A value;
};

// A NUL-terminated text the module passes.
template <>
struct argument<const char*> {
  argument(emulated_host_objects& hosts, std::uint32_t word)
      : is_null(word == 0), text(is_null ? std::string() : hosts.process.cpu.read_string(word)) {}
  const char* get() { return is_null ? nullptr : text.c_str(); }
  void write_back(emulated_host_objects&) {}
  const void* local() const { return nullptr; }
  std::uint32_t address() const { return 0; }
  bool is_null;
  std::string text;
};

// A record the module passes by address: copied in, and back unless const.
template <class T>
struct argument<T*, std::enable_if_t<!is_host_object<T> && !std::is_same_v<T, const char>>> {
  using record = std::remove_const_t<T>;
  argument(emulated_host_objects& hosts, std::uint32_t word) : where(word) {
    if (where != 0)
      hosts.process.cpu.read(where, &value, sizeof value);
  }
  T* get() { return where != 0 ? &value : nullptr; }
  void write_back(emulated_host_objects& hosts) {
    if (!std::is_const_v<T> && where != 0)
      hosts.process.cpu.write(where, &value, sizeof value);
  }
  const void* local() const { return &value; }
  std::uint32_t address() const { return where; }
  std::uint32_t where;
  record value{};
};

template <class R, class Arguments, std::size_t... I>
std::uint32_t result_word(emulated_host_objects& hosts, R result, Arguments& args,
                          std::index_sequence<I...>) {
  if constexpr (std::is_pointer_v<R>) {
    using pointee = std::remove_pointer_t<R>;
    if constexpr (std::is_same_v<R, const char*>) {
      return result == nullptr ? 0 : hosts.text_address(result);
    } else if constexpr (is_host_object<pointee>) {
      return hosts.address_of(result);
    } else {
      // A result location: the module's own address for it.
      std::uint32_t word = 0;
      ((std::get<I>(args).local() == result ? word = std::get<I>(args).address() : 0), ...);
      return word;
    }
  } else {
    return static_cast<std::uint32_t>(result);
  }
}

template <class Interface, class Method>
struct forwarder;

template <class Interface, class Class, class R, class... A>
struct forwarder<Interface, R (Class::*)(A...)> {
  static constexpr std::uint16_t popped = 4 * sizeof...(A);

  static void call(emulated_host_objects& hosts, R (Class::*method)(A...), const char* name,
                   stub_call& c) {
    Interface* object = hosts.object_at<Interface>(c.ecx());
    if (object == nullptr) {
      c.cpu.stop_call(std::string(name) + " called with `this` not a " + typeid(Interface).name());
      return;
    }
    forward(hosts, object, method, c, std::index_sequence_for<A...>{});
  }

  template <std::size_t... I>
  static void forward(emulated_host_objects& hosts, Interface* object, R (Class::*method)(A...),
                      stub_call& c, std::index_sequence<I...> indices) {
    std::tuple<argument<A>...> args{argument<A>(hosts, c.arg(static_cast<int>(I)))...};
    if constexpr (std::is_void_v<R>) {
      (object->*method)(std::get<I>(args).get()...);
      (std::get<I>(args).write_back(hosts), ...);
    } else {
      R result = (object->*method)(std::get<I>(args).get()...);
      (std::get<I>(args).write_back(hosts), ...);
      c.result(result_word(hosts, result, args, indices));
    }
  }
};

// One table entry: the slot the declaration gives it and its stub.
struct table_entry {
  std::ptrdiff_t slot;
  std::uint32_t stub;
};

template <class Interface, class Method>
table_entry make_entry(emulated_host_objects& hosts, Method method, const char* name) {
  using forward = forwarder<Interface, Method>;
  const std::uint32_t stub = hosts.process.cpu.add_stub(
      name, forward::popped,
      [&hosts, method, name](stub_call& c) { forward::call(hosts, method, name, c); });
  return table_entry{slot_index(method), stub};
}

// Lays the entries out by slot; a gap or a clash means the list above and
// the declarations disagree.
std::uint32_t make_table(windows_process& process, const char* interface,
                         const std::vector<table_entry>& entries) {
  std::vector<std::uint32_t> words(entries.size(), 0);
  for (const table_entry& e : entries) {
    if (e.slot < 0 || static_cast<std::size_t>(e.slot) >= words.size() || words[e.slot] != 0)
      throw emulation_error(std::string("the operations of ") + interface +
                            " do not fill its table slot by slot");
    words[e.slot] = e.stub;
  }
  const std::uint32_t table = process.host_allocate(4 * static_cast<std::uint32_t>(words.size()));
  process.cpu.write(table, words.data(), 4 * words.size());
  return table;
}

}  // namespace

emulated_host_objects::emulated_host_objects(windows_process& owner) : process(owner) {
  std::map<std::string, std::vector<table_entry>> entries;
#define VELLOQ_HOST_REFERENCE_COUNTING(I)                                               \
  entries[typeid(I).name()].push_back(make_entry<I>(*this, &I::AddRef, #I "::AddRef")); \
  entries[typeid(I).name()].push_back(make_entry<I>(*this, &I::Release, #I "::Release"));
#define VELLOQ_HOST_OPERATION(I, M) \
  entries[typeid(I).name()].push_back(make_entry<I>(*this, &I::M, #I "::" #M));
  VELLOQ_HOST_INTERFACES(VELLOQ_HOST_REFERENCE_COUNTING)
  VELLOQ_HOST_OPERATIONS(VELLOQ_HOST_OPERATION)
#undef VELLOQ_HOST_REFERENCE_COUNTING
#undef VELLOQ_HOST_OPERATION
  for (const auto& [interface, list] : entries) {
    tables[interface] = make_table(process, interface.c_str(), list);
  }
}

std::uint32_t emulated_host_objects::address_for(void* object, const std::type_info& interface) {
  if (const auto it = addresses_.find(object); it != addresses_.end())
    return it->second;
  // The object is its table pointer; a second word keeps objects apart.
  const std::uint32_t address = process.host_allocate(8, 8);
  process.cpu.write32(address, tables.at(interface.name()));
  process.cpu.write32(address + 4, 0);
  addresses_[object] = address;
  objects_[address] = {object, &interface};
  return address;
}

std::uint32_t emulated_host_objects::text_address(const char* text) {
  auto& entry = texts_[text];
  if (entry.second == 0 || entry.first != text) {
    entry.first = text;
    entry.second = process.host_string(text);
  }
  return entry.second;
}
