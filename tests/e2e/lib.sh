# shellcheck shell=bash
# Shared pieces of the Wine scenarios (sourced by tests/e2e/run).
#
# A scenario is a bash file in scenarios/ that prepares the game's files and
# an update, builds the updater, writes a driver script with `step`, runs it
# with `run_driver`, and then checks files with the `expect_*` functions.
# Every check that fails is reported and the scenario goes on, so one run
# shows all that is wrong; the scenario fails at the end.

E2E_SRC=${WZ2_SOURCE_DIR:?}
E2E_BIN=${WZ2_E2E_BIN:?}
E2E_DIR=${WZ2_E2E_DIR:?}
E2E_TOOL=${WZ2_TOOL:?}
E2E_WAIT_MS=${WZ2_E2E_WAIT_MS:-20000}
export WZ2_WINE_ARCH=${WZ2_WINE_ARCH:-win64}
E2E_PREFIX=$E2E_DIR/prefix
E2E_CDROM=$E2E_DIR/cdrom
E2E_SMALL=$E2E_DIR/small
E2E_FAILURES=0
WINE_PREFIX_CMD=$E2E_SRC/scripts/wine-prefix

# The Windows user's folders inside the prefix.
E2E_C=$E2E_PREFIX/drive_c

e2e_note() { echo "e2e: $*"; }

fail() {
  echo "CHECK FAILED: $*"
  E2E_FAILURES=$((E2E_FAILURES + 1))
}

# ---- the shared prefix, X server and wineserver ---------------------------

# The shared X server runs: its PID file names a live Xvfb (a stale file's
# number may since have gone to another process).
e2e_running() {
  local pid
  [[ -f $E2E_DIR/display ]] && pid=$(cat "$E2E_DIR/xvfb.pid" 2>/dev/null) &&
    [[ $(cat "/proc/$pid/comm" 2>/dev/null) == Xvfb ]]
}

e2e_setup() {
  local missing=0 f
  for f in "$E2E_BIN/e2e_driver.exe" "$E2E_BIN/e2e_testgame.exe" "$E2E_BIN/e2e_testdialog.exe" "$E2E_BIN/updater-noarchive.exe" "$E2E_TOOL"; do
    [[ -e $f ]] || { echo "e2e setup: missing $f"; missing=1; }
  done
  "$WINE_PREFIX_CMD" check || missing=1
  command -v Xvfb >/dev/null || { echo "e2e setup: Xvfb missing (scripts/install-deps)"; missing=1; }
  ((missing == 0)) || return 1
  e2e_running && e2e_cleanup
  mkdir -p "$E2E_DIR" "$E2E_CDROM" "$E2E_SMALL"
  local display
  display=$("$WINE_PREFIX_CMD" xvfb-start "$E2E_DIR") || return 1
  export DISPLAY=$display
  local start=$SECONDS
  "$WINE_PREFIX_CMD" init "$E2E_PREFIX" || { e2e_cleanup; return 1; }
  e2e_note "prefix ready in $((SECONDS - start)) s"
  # The prefix's architecture is the tree's: a 32-bit tree must never pass
  # on a 64-bit Wine that happens to be there.
  grep -qx "#arch=$WZ2_WINE_ARCH" "$E2E_PREFIX/system.reg" ||
    { echo "e2e setup: $E2E_PREFIX is not a $WZ2_WINE_ARCH prefix"; e2e_cleanup; return 1; }
  # D: is the game's CD-ROM. E: is a small disk for the free-space stop:
  # a 4 MiB tmpfs where the machine allows mounting one (root), else absent.
  # The scenario that uses it mounts it for its own run (e2e_small_disk);
  # here it is only tried.
  "$WINE_PREFIX_CMD" headless "$E2E_PREFIX"
  "$WINE_PREFIX_CMD" drive "$E2E_PREFIX" d: "$E2E_CDROM" cdrom
  if e2e_small_disk; then
    e2e_small_disk_off
    "$WINE_PREFIX_CMD" drive "$E2E_PREFIX" e: "$E2E_SMALL" hd
  else
    e2e_note "no small disk (mounting a tmpfs needs root): the disk-space scenario will be skipped"
    rm -f "$E2E_PREFIX/dosdevices/e:"
  fi
  # Drive types are read when the wineserver starts.
  "$WINE_PREFIX_CMD" server-stop "$E2E_PREFIX"
  "$WINE_PREFIX_CMD" server-start "$E2E_PREFIX" || { e2e_cleanup; return 1; }
  e2e_note "X server $display, wineserver for $E2E_PREFIX"
}

e2e_cleanup() {
  "$WINE_PREFIX_CMD" server-stop "$E2E_PREFIX" 2>/dev/null || true
  "$WINE_PREFIX_CMD" xvfb-stop "$E2E_DIR"
  e2e_small_disk_off
}

# Mounts the 4 MiB tmpfs of drive E: for this process's run, and unmounts it
# when the process ends however it ends (an interrupt included), so that no
# mount outlives the scenario and `make clean` never meets one. False where
# no tmpfs can be mounted (not root).
e2e_small_disk() {
  mkdir -p "$E2E_SMALL"
  mountpoint -q "$E2E_SMALL" || mount -t tmpfs -o size=4m e2e-small "$E2E_SMALL" 2>/dev/null || return 1
  trap e2e_small_disk_off EXIT
  trap 'e2e_small_disk_off; exit 130' INT
  trap 'e2e_small_disk_off; exit 143' TERM HUP
}

# The small disk for the scenario that uses it: mounted, then the wineserver
# started again, since it opens the files its clients name and the win32
# one runs in a mount namespace of its own, a copy of the mounts made when
# it started (it keeps that copy after the host's is unmounted, until it
# ends at the clean-up).
e2e_use_small_disk() {
  e2e_small_disk || return 1
  "$WINE_PREFIX_CMD" server-stop "$E2E_PREFIX"
  "$WINE_PREFIX_CMD" server-start "$E2E_PREFIX"
}

e2e_small_disk_off() {
  if mountpoint -q "$E2E_SMALL" 2>/dev/null; then umount "$E2E_SMALL" || true; fi
  trap - EXIT INT TERM HUP
}

# ---- files -------------------------------------------------------------------

# Writes standard input, UTF-8, to a file in code page 932 with CR LF line
# ends, as a Windows profile is written.
write_cp932() {
  mkdir -p "$(dirname "$1")"
  sed 's/$/\r/' | iconv -f UTF-8 -t CP932 >"$1"
}

# A Unix path inside the prefix for a Windows path on C:, D: or E:.
unix_path() {
  local win=$1 rest
  rest=${win:2}
  rest=${rest//\\//}
  case ${win:0:2} in
    C: | c:) echo "$E2E_C$rest" ;;
    D: | d:) echo "$E2E_CDROM$rest" ;;
    E: | e:) echo "$E2E_SMALL$rest" ;;
    *) echo "unix_path: unknown drive in $win" >&2; return 1 ;;
  esac
}

# A Windows path (on Z:) for a Unix path, for the driver's start steps.
win_path() {
  local p
  p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
  echo "Z:${p//\//\\}"
}

# Deterministic contents: `make_file PATH SIZE SEED` writes SIZE bytes of a
# pseudo-random stream (incompressible, so the archive stores it plain).
# Perl's generator is its own drand48, the same on every machine.
make_file() {
  mkdir -p "$(dirname "$1")"
  perl -e 'srand($ARGV[1]); my $n = $ARGV[0];
    while ($n > 0) { my $k = $n < 65536 ? $n : 65536; print pack("C*", map { int(rand(256)) } 1 .. $k); $n -= $k }' \
    "$2" "$3" >"$1"
}

# A text file of N numbered lines: compresses well, so the archive keeps it
# compressed.
make_text() {
  mkdir -p "$(dirname "$1")"
  seq -f "$3 line %g of the update" 1 "$2" >"$1"
}

# Sets a file's modification and access times (UTC text or @epoch).
stamp() { touch -d "$2" "$1"; }

epoch_of() { date -u -d "$1" +%s; }

# ---- updaters ----------------------------------------------------------------

# pack_updater OUT.exe FILE... : an updater whose archive holds the files.
# --force: scenarios give the updater manifests that check calls wrong on
# purpose, to see what the updater itself does with them.
pack_updater() {
  local exe=$1
  shift
  local archive=${exe%.exe}.wz2
  "$E2E_TOOL" pack -o "$archive" "$@" >"$E2E_WORK/pack.log" 2>&1 || { cat "$E2E_WORK/pack.log"; return 1; }
  "$E2E_TOOL" build-exe --force --template "$E2E_BIN/updater-noarchive.exe" --archive "$archive" -o "$exe" \
    >>"$E2E_WORK/pack.log" 2>&1 || { cat "$E2E_WORK/pack.log"; return 1; }
  [[ -s $exe ]] || { fail "wz2 made no $exe"; return 1; }
}

# ---- driver ------------------------------------------------------------------

# Appends one line to the driver script.
step() { printf '%s\n' "$*" >>"$E2E_WORK/script.txt"; }

# Steps that put the game's registry record in place (InstAdd too, which
# changes nothing): install_record KEY INSTPATH DATAPATH MODE
install_record() {
  step "reg-clear $1"
  step "reg-sz $1 InstPath $2"
  [[ -n $3 ]] && step "reg-sz $1 DataPath $3"
  step "reg-dword $1 InstMode $4"
  step "reg-dword $1 InstAdd 0"
}

# Runs the driver script; its log (every dialog state and box) goes to the
# output in UTF-8 either way. Returns the driver's status.
run_driver() {
  local status=0 start=$SECONDS temp_before
  temp_before=$(temp_listing)
  # Every wait of the driver may take this long (emulated Wine is slower).
  { echo "timeout $E2E_WAIT_MS"; cat "$E2E_WORK/script.txt"; } |
    iconv -f UTF-8 -t CP932 >"$E2E_WORK/script.cp932" || return 1
  WINEDEBUG=-all DISPLAY=$(cat "$E2E_DIR/display") "$WINE_PREFIX_CMD" exec "$E2E_PREFIX" \
    "$E2E_BIN/e2e_driver.exe" <"$E2E_WORK/script.cp932" >"$E2E_WORK/driver.log" 2>&1 || status=$?
  echo "---- driver log ($((SECONDS - start)) s)"
  iconv -f CP932 -t UTF-8 -c "$E2E_WORK/driver.log" | sed 's/^/  /'
  echo "----"
  # A driver that never logged a line was not started (or died at once):
  # Wine's own message above and its status are all there is to go on.
  if ((status != 0)) && ! grep -q '^\[' "$E2E_WORK/driver.log"; then
    fail "driver: not started, Wine's status $status (its message, if any, is in the log above)"
  elif ((status != 0)); then
    fail "driver: the updater did not behave as scripted (status $status)"
  fi
  [[ $(temp_listing) == "$temp_before" ]] ||
    fail "left in the temporary directory: $(diff <(echo "$temp_before") <(temp_listing) | grep '^>' | tr '\n' ' ')"
  : >"$E2E_WORK/script.txt"
  return 0
}

# ---- checks ------------------------------------------------------------------

mtime_of() { stat -c %Y "$1"; }
atime_of() { stat -c %X "$1"; }

# expect_file TARGET SOURCE WHEN: TARGET holds SOURCE's bytes, and its write
# and access times are WHEN (what the archive recorded). Times are read
# before the bytes, since reading may move the access time.
expect_file() {
  local target=$1 source=$2 when=$3
  if [[ ! -f $target ]]; then
    fail "$target: missing"
    return
  fi
  local want
  want=$(epoch_of "$when")
  [[ $(mtime_of "$target") == "$want" ]] || fail "$target: write time $(date -u -d @"$(mtime_of "$target")") instead of $when"
  [[ $(atime_of "$target") == "$want" ]] || fail "$target: access time $(date -u -d @"$(atime_of "$target")") instead of $when"
  cmp -s "$target" "$source" || fail "$target: bytes differ from $source"
}

# expect_same_bytes TARGET SOURCE: content only (copies, kept files).
expect_same_bytes() {
  [[ -f $1 ]] || { fail "$1: missing"; return; }
  cmp -s "$1" "$2" || fail "$1: bytes differ from $2"
}

# expect_write_time FILE WHEN: only the write time (copies keep their
# source's, and their access time is the copy's own).
expect_write_time() {
  [[ -f $1 ]] || { fail "$1: missing"; return; }
  [[ $(mtime_of "$1") == "$(epoch_of "$2")" ]] || fail "$1: write time $(date -u -d @"$(mtime_of "$1")") instead of $2"
}

# expect_read_only FILE yes|no: whether Wine shows the file read-only (no
# write permission bit).
expect_read_only() {
  local mode
  mode=$(stat -c %A "$1" 2>/dev/null) || { fail "$1: missing"; return; }
  if [[ $2 == yes ]]; then
    [[ $mode != *w* ]] || fail "$1: writable ($mode), should be read-only"
  else
    [[ $mode == -rw* ]] || fail "$1: read-only ($mode), should be writable"
  fi
}

expect_absent() { [[ ! -e $1 ]] || fail "$1: exists, but should not"; }

# snapshot PATH / expect_untouched PATH: the file's bytes, size and write
# time are as they were when the snapshot was taken. The access time is left
# out: any read moves it, the snapshot's own included.
snapshot() { stat -c '%Y %s' "$1" >"$E2E_WORK/snap.$(echo "$1" | md5sum | cut -c1-12)" && sha256sum <"$1" >>"$E2E_WORK/snap.$(echo "$1" | md5sum | cut -c1-12)"; }
expect_untouched() {
  local snap now
  snap=$E2E_WORK/snap.$(echo "$1" | md5sum | cut -c1-12)
  now=$(stat -c '%Y %s' "$1"; sha256sum <"$1")
  [[ $now == "$(cat "$snap")" ]] || fail "$1: changed (was: $(head -1 "$snap"), now: $(echo "$now" | head -1))"
}

# Everything in the Windows users' temporary directories: a run must leave
# nothing behind there (its UPDATE.INI and the folder it made for it).
temp_listing() { find "$E2E_C/users" -path '*/Temp/*' 2>/dev/null | sort; }

# The temporary UPDATE.INI is gone after every run.
expect_no_temp_manifest() {
  local left
  left=$(find "$E2E_C/users" -iname 'UPDATE.INI' 2>/dev/null)
  [[ -z $left ]] || fail "temporary manifest left behind: $left"
}

# ---- one scenario ---------------------------------------------------------

e2e_scenario() {
  local name=$1 script=$E2E_SRC/tests/e2e/scenarios/$1.sh own=0
  [[ -f $script ]] || { echo "no scenario $name"; return 2; }
  if ! e2e_running; then
    # Run alone (not through ctest's fixture): bring the shared set-up up
    # for this one scenario and take it down afterwards.
    e2e_setup || return 1
    own=1
  fi
  E2E_WORK=$E2E_DIR/work/$name
  rm -rf "$E2E_WORK"
  # An earlier scenario that failed had its updater ended by force, which
  # leaves that run's temporary folder behind.
  rm -rf "$E2E_C"/users/*/Temp/*
  mkdir -p "$E2E_WORK"
  : >"$E2E_WORK/script.txt"
  local start=$SECONDS status=0
  # shellcheck source=/dev/null
  source "$script" || status=$?
  ((own)) && e2e_cleanup
  e2e_note "$name: $((SECONDS - start)) s"
  ((status == 77)) && return 77
  ((status == 0)) || fail "scenario script ended with status $status"
  ((E2E_FAILURES == 0)) || { echo "$name: $E2E_FAILURES check(s) failed"; return 1; }
  echo "$name: passed"
}

# ---- the made-up game of the scenarios -------------------------------------

# Its installed title holds ソ, whose second byte is 0x5C, so every text built
# from it must treat that byte as part of the character.
GAME_TITLE='ソラの港'
GAME_CLASS='SoraWindow'
GAME_KEY='Software\Sakuragi\Sorano'
WINDOW_TITLE="$GAME_TITLE アップデータ 1.02"
INST_WIN='C:\Games\Sorano'
DATA_WIN='C:\GameData\Sorano'
INST=$E2E_C/Games/Sorano
DATA=$E2E_C/GameData/Sorano

# setup_ini PATH [LINE...]: a valid installed SETUP.INI; extra lines are
# appended to its section (a later duplicate key does not override).
setup_ini() {
  local path=$1
  shift
  {
    cat <<INI
[SETUP]
CompanyName=Sakuragi
GameTitle=$GAME_TITLE
GameDir=Sorano
GameExe=SORA.EXE
UninstExe=UNINST.EXE
SetupBmp=SETUP1.BMP,SETUP2.BMP
InstallSelects=2
InstallTitle0=標準インストール
InstallFiles0=SORA.EXE,1:SOUND.PAK,MUSIC.PAK
InstallTitle1=フルインストール
InstallFiles1=SORA.EXE,1:SOUND.PAK,MUSIC.PAK,1:MOVIE
Shortcuts=1
Shortcut0=$GAME_TITLE,SORA.EXE
GameClass=$GAME_CLASS
DiskCheckFile1=SORA1.ID
INI
    local line
    for line in "$@"; do echo "$line"; done
  } | write_cp932 "$path"
}

# install_game [MODE]: a fresh installation (folder, SETUP.INI, registry
# record, empty data folder) and an empty CD-ROM.
install_game() {
  local mode=${1:-1}
  rm -rf "$E2E_C/Games" "$E2E_C/GameData" "${E2E_CDROM:?}"/* 2>/dev/null
  mkdir -p "$INST" "$DATA"
  setup_ini "$INST/SETUP.INI"
  install_record "$GAME_KEY" "$INST_WIN" "$DATA_WIN" "$mode"
}

# The manifest's section SETUP for the game; extra lines are appended.
manifest_setup() {
  cat <<INI
[SETUP]
CompanyName=Sakuragi
GameTitle=ソラの港 更新
GameClass=SoraWindow
GameDir=Sorano
UpdaterVersion=1.02
INI
  local line
  for line in "$@"; do echo "$line"; done
}

# Steps for an error box (error icon, one OK button) of process PROC (u by
# default), owned by the dialog or by none, answered with OK.
expect_error_box() {
  local caption=$1 text=$2 owner=${3:-none} proc=${4:-u}
  step "wait-box $proc"
  step "expect-box-caption $caption"
  step "expect-box-text $text"
  step "expect-box-buttons 1"
  step "expect-box-icon yes"
  step "expect-box-owner $owner"
  step "answer-box 1"
}

# Steps for the start page and the confirm page of the update dialog.
expect_start_page() {
  step "wait-dialog u"
  step "expect-caption $WINDOW_TITLE"
  step "expect-info 「$GAME_TITLE」のアップデートを開始します"
  step "expect-button 4 0 戻る"
  step "expect-button 1 1 次へ"
  step "expect-button 2 1 中止"
}
expect_confirm_page() {
  step "expect-info アップデートを実行します"
  step "expect-button 4 0 戻る"
  step "expect-button 1 1 次へ"
  step "expect-button 2 1 中止"
}
expect_finished_page() {
  step "expect-info アップデートは完了しました"
  step "expect-button 1 1 完了"
  step "expect-button 2 0 中止"
  step "expect-button 4 0 戻る"
}

# Steps from the confirm page to the end of a finished update: next, the
# finished page, its button, and exit code 1.
finish_from_confirm_page() {
  expect_confirm_page
  step "press 1"
  expect_finished_page
  step "press 1"
  step "wait-exit u 1"
}

# The same from the start page, whose next button leads to the confirm page.
finish_from_start_page() {
  step "press 1"
  finish_from_confirm_page
}

# The updater of the scenario, started as process u.
start_updater() { step "start u $(win_path "${1:-$E2E_WORK/update.exe}")"; }

# The box start-up shows after the dialog ended without a finished update.
expect_interrupted() {
  expect_error_box "$WINDOW_TITLE" 'アップデートが中断されました' none "${1:-u}"
}

# expect_listing DIR NAME...: DIR holds exactly these names (nothing left
# over from a failed write).
expect_listing() {
  local dir=$1
  shift
  local want have
  want=$(printf '%s\n' "$@" | sort)
  have=$(find "$dir" -mindepth 1 -maxdepth 1 -printf '%f\n' 2>/dev/null | sort)
  [[ $want == "$have" ]] || fail "$dir holds [${have//$'\n'/ }] instead of [${want//$'\n'/ }]"
}
