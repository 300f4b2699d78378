// The textual UUID parser and the load-time constants.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugin/identity.hpp"
#include "plugin/uuid.hpp"

namespace {

Uuid words(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return Uuid{{a, b, c, d}};
}

TEST(parse_uuid, reads_the_groups_into_four_words_in_either_case) {
  const Uuid expected = words(0x05A838F5, 0xCA63446B, 0x9F83727D, 0x554E9C40);
  EXPECT_TRUE(uuid_equal(parse_uuid("05A838F5-CA63-446b-9F83-727D554E9C40"), expected));
  EXPECT_TRUE(uuid_equal(parse_uuid("05a838f5-ca63-446b-9f83-727d554e9c40"), expected));
  EXPECT_TRUE(uuid_equal(parse_uuid("05A838F5-CA63-446B-9F83-727D554E9C40"), expected));
  EXPECT_TRUE(uuid_equal(parse_uuid("18473b78-6e0b-4beb-b514-3cc9bc31d80f"),
                         words(0x18473B78, 0x6E0B4BEB, 0xB5143CC9, 0xBC31D80F)));
}

TEST(parse_uuid, has_no_failure_non_digits_count_as_zero_and_separators_are_skipped) {
  EXPECT_TRUE(uuid_equal(parse_uuid("0000000G-0000-0000-0000-000000000000"), nil_uuid));
  EXPECT_TRUE(
      uuid_equal(parse_uuid("05A838F5xCA63x446bx9F83x727D554E9C40"), identity().plugin_uuid));
  EXPECT_TRUE(uuid_equal(parse_uuid("zzzzzzzz-zzzz-zzzz-zzzz-zzzzzzzzzzzz"), nil_uuid));
  // Only the first 36 characters are read.
  EXPECT_TRUE(
      uuid_equal(parse_uuid("00000001-0000-0000-0000-000000000000FFFF"), words(1, 0, 0, 0)));
}

TEST(parse_uuid, the_plugin_uuid_is_held_as_words_not_as_guid_bytes) {
  const Uuid uuid = identity().plugin_uuid;
  unsigned char bytes[16];
  std::memcpy(bytes, &uuid, sizeof bytes);
  const unsigned char little_endian_words[16] = {0xF5, 0x38, 0xA8, 0x05, 0x6B, 0x44, 0x63, 0xCA,
                                                 0x7D, 0x72, 0x83, 0x9F, 0x40, 0x9C, 0x4E, 0x55};
  EXPECT_EQ(std::memcmp(bytes, little_endian_words, 16), 0);
}

TEST(uuid_equal, compares_every_word) {
  const Uuid base = words(1, 2, 3, 4);
  EXPECT_TRUE(uuid_equal(base, words(1, 2, 3, 4)));
  EXPECT_FALSE(uuid_equal(base, words(0, 2, 3, 4)));
  EXPECT_FALSE(uuid_equal(base, words(1, 0, 3, 4)));
  EXPECT_FALSE(uuid_equal(base, words(1, 2, 0, 4)));
  EXPECT_FALSE(uuid_equal(base, words(1, 2, 3, 0)));
}

TEST(identity, the_load_time_constants_hold_their_words) {
  const identity_constants& ids = identity();
  EXPECT_TRUE(uuid_equal(ids.draft_ray_tracing, words(2, 0, 0, 0)));
  EXPECT_TRUE(uuid_equal(ids.ray_tracing, nil_uuid));
  EXPECT_TRUE(uuid_equal(ids.path_tracing, words(1, 0, 0, 0)));
  EXPECT_TRUE(uuid_equal(ids.toon_renderer, words(0x18473B78, 0x6E0B4BEB, 0xB5143CC9, 0xBC31D80F)));
  EXPECT_TRUE(uuid_equal(ids.plugin_uuid, words(0x05A838F5, 0xCA63446B, 0x9F83727D, 0x554E9C40)));
  EXPECT_TRUE(
      is_effector_interface_id("\x64\x7D\xE4\x50\x22\x89\xD1\x11\x9A\x00\x00\xC0\x4F\xCC\x9C\x26"));
  EXPECT_FALSE(
      is_effector_interface_id("\x64\x7D\xE4\x50\x22\x89\xD1\x11\x9A\x00\x00\xC0\x4F\xCC\x9C\x27"));
}

}  // namespace
