# Sourced by the scripts that run the tools under wine.
#
#   wine_reg_add KEY ARGS...   `wine reg add KEY ARGS... /f` in $WINEPREFIX. A prefix still
#                              settling after its creation gets a second try once its
#                              server is idle; a value that still cannot be set is shown
#                              with wine's own words and returns 1.

wine_reg_add() {
  local out
  out=$(wine reg add "$@" /f 2>&1) && return 0
  wineserver -w 2>/dev/null || true
  out=$(wine reg add "$@" /f 2>&1) && return 0
  echo "wine reg add $*: $out" >&2
  return 1
}
