#pragma once
// An ICC colour profile as PNG's iCCP chunk holds it: a name, a NUL, the
// compression method 0, then the profile compressed with zlib. JPEG keeps
// profiles uncompressed, so a profile crosses between the formats through
// these two.

#include <cstddef>
#include <vector>

// An iCCP chunk's data for `profile`, named "ICC profile".
std::vector<unsigned char> iccp_chunk_data(const std::vector<unsigned char>& profile);

// The profile an iCCP chunk's data hold, if it inflates to at most
// `max_bytes`; empty when the chunk is malformed or inflates further.
std::vector<unsigned char> icc_profile_of_iccp(const std::vector<unsigned char>& chunk_data,
                                               std::size_t max_bytes);
