# Writes SHA-256 sums of FILES (a ;-list) into OUTPUT in the form
# `sha256sum -c` reads: the hexadecimal sum, two blanks, the file's name.
set(lines "")
foreach(path IN LISTS FILES)
  file(SHA256 "${path}" sum)
  get_filename_component(name "${path}" NAME)
  string(APPEND lines "${sum}  ${name}\n")
endforeach()
file(WRITE "${OUTPUT}.tmp" "${lines}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
