#pragma once
// The hidden files velloq-host keeps beside an output while it works on it,
// each named after the output's key: its temporary
// (".render_0001.png.k3x9q0a8b1cd.velloq-partial"), its claim
// (".render_0001.png.velloq-claim") and its frame's record
// (".render_0001.png.k3x9q0a8b1cd.velloq-frame"). The key is the output's
// file name, unless the longest of these names would then pass what a file
// name may hold: then the name's beginning, '~' and a hash of all of it. So
// every hidden name fits wherever the output's own name fits, and any of
// them leads the next run to the output's claim.

#include <cstddef>
#include <string>

// What a file name may hold on the file systems velloq-host writes to:
// NAME_MAX bytes on POSIX systems, 255 characters on Windows.
inline constexpr std::size_t max_file_name_bytes = 255;

// The random part of temporaries' and records' names: twelve letters or
// digits from the system's random source.
inline constexpr std::size_t unguessable_part_length = 12;
std::string unguessable_name_part();

inline constexpr char temporary_suffix[] = ".velloq-partial";
inline constexpr char claim_suffix[] = ".velloq-claim";
inline constexpr char frame_record_suffix[] = ".velloq-frame";

// The key of an output's file name.
std::string hidden_key(const std::string& file_name);

// "." key suffix, or with a random part "." key "." random suffix.
std::string hidden_name(const std::string& key, const std::string& random_part, const char* suffix);

// The key a hidden name of that suffix (and random part, when it has one)
// was made from; empty when the name is not of that form.
std::string key_of_hidden_name(const std::string& name, const char* suffix, bool with_random_part);

// The longest path any hidden file of `target` can have: a run checks it
// against the system's limit before its first picture.
std::string longest_hidden_path(const std::string& target);

// Why the system could not write `target` with its hidden files beside it:
// a file name longer than a file name may hold, or a path longer than the
// system opens. Empty when it can.
std::string path_limitation(const std::string& target);
