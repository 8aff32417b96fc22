# The publisher's tool built for Windows, in the same Wine as the updater: it
# packs a folder holding code page 932 names (表 and ソ end in byte 0x5C)
# into exactly the bytes the Linux build writes, lists the archive as the
# Linux build does, and extracts every entry back, bytes and time.

SRC=$E2E_WORK/src
WHEN='2020-02-02 02:02:02 UTC'
make_text "$SRC/表セーブ.DAT" 500 save # compresses: a compressed entry
make_file "$SRC/ソ.BIN" 40000 5        # does not: a stored entry
make_text "$SRC/README.TXT" 20 readme
for f in "$SRC"/*; do stamp "$f" "$WHEN"; done

# Runs wz2.exe with its output in files, then prints its standard output.
# Output goes through files because the helper processes Wine starts for a
# console program inherit its handles and would hold a pipe open.
wz2_windows() {
  local status=0
  "$WINE_PREFIX_CMD" exec "$E2E_PREFIX" "$E2E_BIN/wz2.exe" "$@" \
    >"$E2E_WORK/wz2.out" 2>"$E2E_WORK/wz2.err" </dev/null || status=$?
  cat "$E2E_WORK/wz2.err" >&2
  cat "$E2E_WORK/wz2.out"
  return $status
}

wz2_windows pack --quiet -o "$(win_path "$E2E_WORK/windows.wz2")" "$(win_path "$SRC")" ||
  fail "wz2.exe pack failed"
"$E2E_TOOL" pack --quiet -o "$E2E_WORK/linux.wz2" "$SRC" || fail "wz2 pack failed"
cmp "$E2E_WORK/windows.wz2" "$E2E_WORK/linux.wz2" || fail "wz2.exe packed other bytes than the Linux wz2"

# Listings: the console's line ends are the only difference allowed.
wz2_windows list "$(win_path "$E2E_WORK/windows.wz2")" | tr -d '\r' >"$E2E_WORK/list.windows" ||
  fail "wz2.exe list failed"
"$E2E_TOOL" list "$E2E_WORK/linux.wz2" >"$E2E_WORK/list.linux"
grep -q '表セーブ.DAT' "$E2E_WORK/list.windows" || fail "wz2.exe list does not show 表セーブ.DAT"
diff "$E2E_WORK/list.linux" "$E2E_WORK/list.windows" || fail "wz2.exe lists the archive differently"

mkdir -p "$E2E_WORK/out"
wz2_windows extract "$(win_path "$E2E_WORK/windows.wz2")" -C "$(win_path "$E2E_WORK/out")" ||
  fail "wz2.exe extract failed"
expect_listing "$E2E_WORK/out" 表セーブ.DAT ソ.BIN README.TXT
for f in 表セーブ.DAT ソ.BIN README.TXT; do
  [[ -f $E2E_WORK/out/$f ]] || continue
  cmp -s "$E2E_WORK/out/$f" "$SRC/$f" || fail "$f: extracted bytes differ"
  expect_write_time "$E2E_WORK/out/$f" "$WHEN"
done
