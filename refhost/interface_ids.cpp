#include "refhost/plugin_module.hpp"

// {50E47D64-8922-11D1-9A00-00C04FCC9C26}, the effector interface.
const unsigned char host_effector_interface_id[16] = {0x64, 0x7D, 0xE4, 0x50, 0x22, 0x89,
                                                      0xD1, 0x11, 0x9A, 0x00, 0x00, 0xC0,
                                                      0x4F, 0xCC, 0x9C, 0x26};
