# Sourced by scripts/test and scripts/demo: can this machine run 32-bit
# Windows programs? Found out by trying, not from package lists: on some
# machines Wine is installed but the kernel runs no 32-bit program at all
# (every i386 binary fails with "Exec format error"). VELLOQ_NO_WINE=1
# forces the answer no, so that the path for such machines is exercised
# where Wine runs.
#
# wine_check sets wine_usable (yes/no) and wine_reason (why not).

wine_check() {
  wine_usable=no
  if [ -n "${VELLOQ_NO_WINE:-}" ] && [ "${VELLOQ_NO_WINE}" != 0 ]; then
    wine_reason="VELLOQ_NO_WINE is set"
    return
  fi
  wine_reason="this machine cannot run 32-bit programs"
  if ! command -v wine >/dev/null 2>&1; then
    wine_reason="Wine is not installed"
    return
  fi
  local dir="${TMPDIR:-/tmp}/velloq-wine-probe-$$"
  mkdir -p "$dir"
  printf 'int main(void) { return 42; }\n' >"$dir/probe.c"
  if ! i686-w64-mingw32-gcc -o "$dir/probe.exe" "$dir/probe.c" 2>"$dir/log"; then
    wine_reason="the mingw-w64 compiler is missing"
    rm -rf "$dir"
    return
  fi
  # The probe answers 42 only if it really ran; the first start of a new
  # Wine prefix takes a few seconds, a machine that cannot run it fails at once.
  local status=0
  WINEDEBUG=-all timeout 60 wine "$dir/probe.exe" >"$dir/log" 2>&1 || status=$?
  if [ "$status" -eq 42 ]; then
    wine_usable=yes
    wine_reason=""
  fi
  rm -rf "$dir"
}

# The first Windows program of a Wine session starts Wine's own services
# (services.exe, explorer.exe, ...), which inherit that program's standard
# output and hold it open until the session ends: a test that happens to
# start the session waits for them, up to a minute. wine_session_start
# starts the session first, with nothing to inherit, and keeps it for the
# tests; wine_session_end ends it, only if it was ours.
wine_session_ours=no
wine_session_start() {
  if WINEDEBUG=-all wineserver -p >/dev/null 2>&1; then wine_session_ours=yes; fi
  WINEDEBUG=-all wine wineboot </dev/null >/dev/null 2>&1
}
wine_session_end() {
  if [ "$wine_session_ours" = yes ]; then WINEDEBUG=-all wineserver -k >/dev/null 2>&1; fi
  wine_session_ours=no
}
