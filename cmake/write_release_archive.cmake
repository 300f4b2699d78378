# Completes the release folder STAGE with the files COPY names (the rest of
# NAMES is in it already) and SHA-256 sums of NAMES, and zips NAMES and the
# sums, in that order, into ARCHIVE with Info-ZIP's ZIP. COPY and NAMES are
# lists joined by "|". The archive depends on nothing but the files' bytes:
# the entries come in a fixed order, each with one fixed time (in UTC) and
# mode, and -X leaves out the owner and the extra time fields.
string(REPLACE "|" ";" copy "${COPY}")
string(REPLACE "|" ";" names "${NAMES}")
file(COPY ${copy} DESTINATION ${STAGE})
# In the form `sha256sum -c` reads: the hexadecimal sum, two blanks, the name.
set(sums "")
foreach(name IN LISTS names)
  file(SHA256 ${STAGE}/${name} sum)
  string(APPEND sums "${sum}  ${name}\n")
endforeach()
file(WRITE ${STAGE}/SHA256SUMS "${sums}")

get_filename_component(top ${STAGE} NAME)
get_filename_component(parent ${STAGE} DIRECTORY)
set(entries "")
foreach(name IN LISTS names ITEMS SHA256SUMS)
  file(CHMOD ${STAGE}/${name} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  list(APPEND entries ${top}/${name})
endforeach()
file(REMOVE ${ARCHIVE}.part)
execute_process(COMMAND touch -d "1980-01-01 00:00:00 UTC" ${entries}
                WORKING_DIRECTORY ${parent} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${ZIP} -X -D -q -9 ${ARCHIVE}.part ${entries}
                WORKING_DIRECTORY ${parent} COMMAND_ERROR_IS_FATAL ANY)
file(RENAME ${ARCHIVE}.part ${ARCHIVE})
