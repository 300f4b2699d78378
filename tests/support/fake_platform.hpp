#pragma once
// A system_platform with chosen answers, installed for one test's lifetime.

#include <cstdint>
#include <string>
#include <vector>

#include "report/system_platform.hpp"

class fake_platform final : public system_platform {
 public:
  fake_platform() { set_active_platform(this); }
  ~fake_platform() { set_active_platform(nullptr); }
  fake_platform(const fake_platform&) = delete;
  fake_platform& operator=(const fake_platform&) = delete;

  std::uint32_t tick_count() override {
    calls.push_back("tick_count");
    if (!ticks.empty()) {
      tick = ticks.front();
      ticks.erase(ticks.begin());
    }
    return tick;
  }
  std::string operating_system_text() override {
    calls.push_back("operating_system_text");
    return os_text;
  }
  std::int32_t processor_count() override {
    calls.push_back("processor_count");
    return processors;
  }
  std::string read_processor_brand() override {
    calls.push_back("read_processor_brand");
    return brand;
  }
  std::string primary_adapter_name() override {
    calls.push_back("primary_adapter_name");
    return adapter;
  }
  std::uint64_t total_physical_memory() override {
    calls.push_back("total_physical_memory");
    return memory;
  }

  std::uint32_t tick = 1000;
  std::vector<std::uint32_t> ticks;  // answered in turn, then `tick` again
  std::string os_text = "Windows 7 Professional Edition 64-bit";
  std::int32_t processors = 4;
  std::string brand = "Test CPU 3.00GHz";
  std::string adapter = "Test Adapter";
  std::uint64_t memory = 8ull << 30;
  std::vector<std::string> calls;
};
