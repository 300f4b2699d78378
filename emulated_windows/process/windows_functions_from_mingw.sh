#!/usr/bin/env bash
# Writes the table of system DLL functions and the first Windows of each
# (windows_functions.txt) from two sources Debian ships with mingw-w64:
#
#  - the import libraries (/usr/i686-w64-mingw32/lib/lib<dll>.a): what each
#    DLL exports at all, under the name a module's import table holds (read
#    from each member's hint/name entry, since a library may offer one
#    function under several symbols: strdup imports _strdup);
#  - the Windows headers' version guards (#if _WIN32_WINNT >= 0x0600 ...):
#    the headers are compiled once for each version with GCC's -aux-info,
#    which lists every function they declare; a function's first version is
#    the first whose compilation declares it.
#
# msvcrt.dll's headers carry no Windows version guard. Its functions are
# dated by the import library of msvcr70.dll, the 7.0 runtime of which XP's
# msvcrt.dll is the system build: what msvcr70.dll exports is there on XP,
# the rest of msvcrt.dll's exports (the secure _s and locale _l functions
# of the 8.0 runtime, the 32-bit time functions) from Vista on.
#
# Where the headers are wrong for the systems the host ran on, the
# corrections file (windows_functions_corrections.txt, each with its reason)
# has the last word.
#
# Usage: windows_functions_from_mingw.sh OUTPUT [CORRECTIONS]
set -euo pipefail

output=$1
here=$(cd "$(dirname "$0")" && pwd)
corrections=${2:-$here/windows_functions_corrections.txt}
compiler=${VELLOQ_MINGW_CC:-i686-w64-mingw32-gcc}
objdump=${VELLOQ_MINGW_OBJDUMP:-i686-w64-mingw32-objdump}
nm=${VELLOQ_MINGW_NM:-i686-w64-mingw32-nm}
libraries=${VELLOQ_MINGW_LIB:-/usr/i686-w64-mingw32/lib}
export LC_ALL=C

# The DLLs a plug-in plausibly imports, in the order the table lists them.
dlls=(kernel32 user32 gdi32 advapi32 shell32 shlwapi ole32 oleaut32 version winmm psapi msvcrt)
headers=(windows.h shlobj.h shellapi.h shlwapi.h objbase.h ole2.h oleauto.h mmsystem.h psapi.h
         tlhelp32.h winver.h)

# tag, _WIN32_WINNT, NTDDI_VERSION (with the last service pack), oldest first.
# Server 2003's additions (0x0502) reached client Windows with Vista; the XP
# SP3 kernel took only some of them, which the corrections name.
versions=(
  ":0x0500:0x05000400"
  "xp:0x0501:0x05010300"
  "vista:0x0502:0x05020200"
  "vista:0x0600:0x06000200"
  "7:0x0601:0x06010000"
  "8:0x0602:0x06020000"
  "8.1:0x0603:0x06030000"
  "10:0x0A00:0x0A000000"
)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- The headers, compiled for each version: name, first tag ------------
printf '#include <%s>\n' "${headers[@]}" > "$work/sweep.c"
# "/* file:line:NC */ extern HANDLE CreateEventA (LPSECURITY_ATTRIBUTES, ...);": the
# name is the identifier before the argument list (not "void (*" of a
# function returning a pointer to one). The versions compile side by side.
index=0
for entry in "${versions[@]}"; do
  IFS=: read -r tag winnt ntddi <<< "$entry"
  index=$((index + 1))
  (
    "$compiler" -fsyntax-only -D_WIN32_WINNT="$winnt" -DWINVER="$winnt" \
      -DNTDDI_VERSION="$ntddi" -aux-info "$work/aux$index" "$work/sweep.c"
    awk -v tag="${tag:--}" '{
          s = $0; sub(/^\/\*[^*]*\*\/ /, "", s)
          if (match(s, /[A-Za-z_][A-Za-z0-9_]* \([^*]/)) {
            name = substr(s, RSTART, RLENGTH); sub(/ \(.*/, "", name); print name, tag
          }
        }' "$work/aux$index" > "$work/declared$index"
  ) &
done
wait
for ((i = 1; i <= index; ++i)); do cat "$work/declared$i"; done > "$work/declared"
# The first version declaring each name (the sweep ran oldest first).
awk '!($1 in first) { first[$1] = $2 } END { for (n in first) print n, first[n] }' \
  "$work/declared" | sort > "$work/first_declared"

# --- The import libraries: symbol, imported name -------------------------
# Prints "DLL-NAME" once, then "symbol imported-name" for each import member.
import_library() {
  local library=$libraries/lib$1.a
  {
    "$nm" -A "$library" 2>/dev/null | awk '$2 == "I" && $3 ~ /^__imp_/ {
        parts = split($1, part, ":"); member = part[parts - 1]
        symbol = $3; sub(/^__imp_/, "", symbol)
        if (symbol !~ /^\?/) { sub(/^_/, "", symbol); sub(/@[0-9]+$/, "", symbol) }
        print "symbol", member, symbol
      }'
    for section in '.idata$6' '.idata$7'; do
      "$objdump" -s -j "$section" "$library" | awk -v section="$section" '
          /file format/ { member = $1; sub(/:$/, "", member); next }
          /^ [0-9a-f][0-9a-f][0-9a-f][0-9a-f] / {
            for (i = 2; i <= 5; ++i) if ($i ~ /^[0-9a-f]+$/) bytes[member] = bytes[member] $i
          }
          END { for (m in bytes) print section, m, bytes[m] }'
    done
  } | awk '
      BEGIN { for (i = 0; i < 256; ++i) hexvalue[sprintf("%02x", i)] = i }
      # The NUL-terminated text in a section, from byte `from` on.
      function text(hex, from,    out, i, c) {
        out = ""
        for (i = 2 * from + 1; i < length(hex); i += 2) {
          c = hexvalue[substr(hex, i, 2)]
          if (c == 0) break
          out = out sprintf("%c", c)
        }
        return out
      }
      $1 == "symbol" { symbol[$2] = $3; next }
      $1 == ".idata$6" { imported[$2] = text($3, 2); next }  # after the two-byte hint
      $1 == ".idata$7" { name = text($3, 0); if (tolower(name) ~ /\.dll$/) dll = name }
      END {
        print dll
        for (m in symbol) if (m in imported) print symbol[m], imported[m]
      }'
}

import_library msvcr70 | tail -n +2 | awk '{ print $2 }' | sort -u > "$work/msvcr70"

: > "$work/table"
for dll in "${dlls[@]}"; do
  import_library "$dll" > "$work/library"
  name=$(head -n 1 "$work/library")
  [ -n "$name" ] || { echo "no DLL name in lib$dll.a" >&2; exit 1; }
  tail -n +2 "$work/library" | sort > "$work/members"
  if [ "$dll" = msvcrt ]; then
    awk -v dll="$name" 'NR == FNR { old[$1] = 1; next }
                        { print dll, $2, ($2 in old) ? "-" : "vista" }' \
      "$work/msvcr70" "$work/members"
  else
    # The earliest date of the exported name or of any symbol importing it.
    awk -v dll="$name" '
        BEGIN { split("- xp vista 7 8 8.1 10", order, " "); for (i in order) rank[order[i]] = i }
        NR == FNR { first[$1] = $2; next }
        {
          for (k = 1; k <= 2; ++k) {
            if (!($k in first)) continue
            if (!($2 in best) || rank[first[$k]] < rank[best[$2]]) best[$2] = first[$k]
          }
          seen[$2] = 1
        }
        END { for (n in seen) print dll, n, (n in best) ? best[n] : "?" }' \
      "$work/first_declared" "$work/members"
  fi | sort -u -k2,2 >> "$work/table"
done

# --- Corrections, then the file -----------------------------------------
awk 'NR == FNR {
       if ($0 ~ /^#/ || NF < 3) next
       fix[tolower($1) "!" $2] = $3; next
     }
     { key = tolower($1) "!" $2; if (key in fix) { $3 = fix[key]; used[key] = 1 } print }
     END { for (k in fix) if (!(k in used)) { print "correction of an unknown function: " k > "/dev/stderr"; failed = 1 }
           exit failed }' "$corrections" "$work/table" > "$work/corrected"

{
  cat <<'EOF'
# Functions of the system DLLs a plug-in may import, and the first Windows
# whose DLL exports each: velloq-validate judges a plug-in's imports by it,
# and the emulated Windows of a version lets GetProcAddress and the loader
# find only what that version has. Generated by
# windows_functions_from_mingw.sh (which says how) from mingw-w64's import
# libraries and the version guards of its Windows headers, as Debian ships
# them, with windows_functions_corrections.txt; do not edit by hand:
#   cmake --build --preset native --target update_windows_functions
#
# Format: DLL, function, first version: "-" Windows 2000 or earlier (for
# msvcrt.dll: what XP's has), xp, vista, 7, 8, 8.1, 10; "?" when no header
# declares it: the DLL exports it in some version, which one is not known.
#
# Limits: the headers date a function by the version that documents it,
# which for a few is later than the first kernel that exported it (the
# corrections move those that XP SP3 has), and date nothing before Windows
# 2000; what XP added to the 2000 API is mostly declared unguarded, so that
# "-" means "XP SP3 has it" more surely than "2000 had it".
EOF
  for dll in "${dlls[@]}"; do
    name=$(awk -v d="$dll" 'tolower($1) == d ".dll" { print $1; exit }' "$work/corrected")
    awk -v n="$name" '$1 == n' "$work/corrected" | sort -k2,2
  done
} > "$output"
