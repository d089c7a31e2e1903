# Wine GUI test harness, sourced by the GUI tests of Quorvix.exe:
#
#   source tests/support/wine_gui.sh
#   wine_gui_setup              # work dir, Xvfb + window manager, Japanese locale, Wine prefix
#   wine_gui_start "$exe" SC    # copies the program into $QVX_WORK and starts it there
#   win=$(wine_gui_window "^Quorvix Redoduza")
#   wine_gui_tool post "#32770" "^Quorvix Redoduza" 0x0111 40023 0
#   wine_gui_shot "$win" "$shots/name.png"   # fails when the window shows nothing
#   wine_gui_wait_exit 5
#
# Wine runs with a Japanese locale (ANSI code page 932) and Debian's IPA Gothic font, so the
# program's own Shift-JIS texts render as Japanese. Everything is undone on exit.
# Needs WINEPREFIX (inside the build folder); exits 77 (skip) when a tool is missing.

: "${WINEPREFIX:?WINEPREFIX must point into the build folder}"
export WINEPREFIX WINEDEBUG=-all
QVX_WINE=${QVX_WINE:-/usr/lib/wine/wine64}
QVX_WORK=""
QVX_APP=""
QVX_XVFB=""
QVX_WM=""

wine_gui_fail() {
  echo "FAIL: $*"
  if [ -n "$QVX_WORK" ]; then
    ls -R "$QVX_WORK" 2>/dev/null | head -n 50 || true
  fi
  exit 1
}

wine_gui_cleanup() {
  if [ -n "$QVX_APP" ]; then kill "$QVX_APP" 2>/dev/null || true; fi
  if [ -n "$QVX_WM" ]; then kill "$QVX_WM" 2>/dev/null || true; fi
  if [ -n "$QVX_XVFB" ]; then kill "$QVX_XVFB" 2>/dev/null || true; fi
  if [ -n "$QVX_WORK" ]; then rm -rf "$QVX_WORK"; fi
}

# The locale Wine takes its code page from; generated once by tools/install-deps.sh.
wine_gui_locale() {
  local l
  for l in ja_JP.UTF-8 ja_JP.utf8; do
    if locale -a 2>/dev/null | grep -qix "${l/UTF-8/utf8}"; then
      echo "$l"
      return 0
    fi
  done
  return 1
}

wine_gui_setup() {
  local tool
  for tool in Xvfb xdotool import convert iconv; do
    command -v "$tool" >/dev/null || {
      echo "SKIP: $tool is not installed"
      exit 77
    }
  done
  [ -x "$QVX_WINE" ] || {
    echo "SKIP: $QVX_WINE is not installed"
    exit 77
  }
  local loc
  loc=$(wine_gui_locale) || wine_gui_fail "no Japanese locale (tools/install-deps.sh makes ja_JP.UTF-8)"
  export LANG=$loc LC_ALL=$loc
  local fonts
  fonts=$(fc-list 2>/dev/null || true)
  grep -qi "IPAGothic" <<<"$fonts" ||
    wine_gui_fail "no Japanese font (tools/install-deps.sh installs fonts-ipafont-gothic)"

  QVX_WORK=$(mktemp -d)
  trap wine_gui_cleanup EXIT

  # A free display: Xvfb refuses one that is taken, so try a few.
  local n
  for n in $(shuf -i 100-999 -n 20); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    QVX_XVFB=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 50); do
      xdotool getdisplaygeometry >/dev/null 2>&1 && break
      sleep 0.1
    done
    if kill -0 "$QVX_XVFB" 2>/dev/null && xdotool getdisplaygeometry >/dev/null 2>&1; then break; fi
    QVX_XVFB=""
  done
  [ -n "$QVX_XVFB" ] || wine_gui_fail "Xvfb did not start"
  if command -v openbox >/dev/null; then
    openbox --sm-disable >/dev/null 2>&1 &
    QVX_WM=$!
  fi

  # The first run in a new prefix creates it (about 15 s); do it before any timing starts.
  if [ ! -f "$WINEPREFIX/system.reg" ]; then "$QVX_WINE" wineboot -i >/dev/null 2>&1 || true; fi
  if [ -n "${QVX_WINTOOL:-}" ]; then
    local acp
    acp=$("$QVX_WINE" "$QVX_WINTOOL" acp | tr -d '\r')
    [ "$acp" = 932 ] || wine_gui_fail "Wine's ANSI code page is $acp, not 932"
  fi
  # Dialogs ask for "MS Shell Dlg"/"MS UI Gothic"; let them use the Japanese font.
  "$QVX_WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "MS UI Gothic" /d "IPAGothic" /f \
    >/dev/null 2>&1 || true
  "$QVX_WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "MS Gothic" /d "IPAGothic" /f \
    >/dev/null 2>&1 || true
}

# wine_gui_start EXE [ARGS...]: runs a copy of EXE (and NetNameQuery.exe and wintool.exe when they
# lie beside it) in $QVX_WORK; its process id is in QVX_APP.
wine_gui_start() {
  local exe=$1
  shift
  local dir name
  dir=$(dirname "$exe")
  name=$(basename "$exe")
  cp "$exe" "$QVX_WORK/$name"
  [ -f "$dir/NetNameQuery.exe" ] && cp "$dir/NetNameQuery.exe" "$QVX_WORK/"
  (cd "$QVX_WORK" && exec "$QVX_WINE" "$QVX_WORK/$name" "$@") &
  QVX_APP=$!
}

# wine_gui_window TITLE_REGEX [SECONDS]: the X window id of the program's visible window.
wine_gui_window() {
  local re=$1 secs=${2:-60} win="" i
  for i in $(seq $((secs * 4))); do
    win=$(xdotool search --onlyvisible --name "$re" 2>/dev/null | head -n 1 || true)
    if [ -n "$win" ]; then
      echo "$win"
      return 0
    fi
    if [ -n "$QVX_APP" ] && ! kill -0 "$QVX_APP" 2>/dev/null; then
      echo "the program ended before its window appeared" >&2
      return 1
    fi
    sleep 0.25
  done
  return 1
}

# wine_gui_tool ARGS...: tests/support/wintool.exe inside the same Wine session (post, send,
# visible, text, wait); see its source. Set QVX_WINTOOL to its path.
wine_gui_tool() {
  : "${QVX_WINTOOL:?QVX_WINTOOL must name wintool.exe}"
  "$QVX_WINE" "$QVX_WINTOOL" "$@"
}

# wine_gui_focus WINDOW: brings the X window to the front with the keyboard focus.
wine_gui_focus() {
  xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowfocus --sync "$1" 2>/dev/null || true
}

# wine_gui_keys KEY...: real key presses (xdotool), one after the other, on the focused window.
wine_gui_keys() {
  local k
  for k in "$@"; do
    xdotool key --clearmodifiers "$k"
    sleep 0.4
  done
}

# wine_gui_shot WINDOW FILE [MIN_COLOURS]: a screenshot of the whole screen; fails when the
# window's own area has no more than MIN_COLOURS colours (default 8: missing, blank or not drawn).
# A plain grey dialog of buttons and text has about 8; pass fewer for one.
wine_gui_shot() {
  local win=$1 file=$2 min=${3:-8}
  mkdir -p "$(dirname "$file")"
  import -window root "$file" 2>/dev/null || wine_gui_fail "no screenshot"
  local geo x y w h
  geo=$(xdotool getwindowgeometry --shell "$win" 2>/dev/null) || wine_gui_fail "window $win is gone"
  eval "$(echo "$geo" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
  x=$X y=$Y w=$WIDTH h=$HEIGHT
  [ "$w" -gt 50 ] && [ "$h" -gt 50 ] || wine_gui_fail "window $win is ${w}x${h}"
  local colours
  colours=$(convert "$file" -crop "${w}x${h}+${x}+${y}" +repage -format "%k" info: 2>/dev/null)
  [ "${colours:-0}" -gt "$min" ] || wine_gui_fail "window in $file is blank ($colours colours)"
}

# wine_gui_wait_exit SECONDS: waits for the program to end; fails when it does not or its exit
# code is not 0.
wine_gui_wait_exit() {
  local secs=$1 i
  for i in $(seq $((secs * 10))); do
    kill -0 "$QVX_APP" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$QVX_APP" 2>/dev/null && wine_gui_fail "the program still runs after $secs s"
  local rc=0
  wait "$QVX_APP" || rc=$?
  QVX_APP=""
  [ "$rc" -eq 0 ] || wine_gui_fail "exit code $rc"
}
