# wz2.exe on a Japanese console (output code page 932): names and messages
# are shown as their characters, the console keeps its code page, and the
# same command redirected to a file writes the UTF-8 bytes the Linux build
# writes, for scripts. Unpacked as the zip lays it out, wz2.exe finds its
# template beside it.

SRC=$E2E_WORK/src
make_text "$SRC/表セーブ.DAT" 50 save
make_text "$SRC/ソ.TXT" 5 so
stamp "$SRC/表セーブ.DAT" '2020-02-02 02:02:02 UTC'
stamp "$SRC/ソ.TXT" '2020-02-02 02:02:02 UTC'
"$E2E_TOOL" pack -q -o "$E2E_WORK/update.wz2" "$SRC"/* || { fail "wz2 pack failed"; return 1; }

# on_console OUT ARG...: wz2.exe ARG... on a console of its own; what the
# console shows, in UTF-8 with LF line ends, in OUT. Returns wz2's status.
on_console() {
  local out=$1 result=0
  shift
  WINEDEBUG=-all DISPLAY=$(cat "$E2E_DIR/display") "$WINE_PREFIX_CMD" exec "$E2E_PREFIX" \
    "$E2E_BIN/e2e_console.exe" "$(win_path "$E2E_BIN/wz2.exe")" "$@" </dev/null >"$out.raw" 2>&1 || result=$?
  tr -d '\r' <"$out.raw" >"$out"
  return $result
}

shown=0
on_console "$E2E_WORK/console.txt" list -q "$(win_path "$E2E_WORK/update.wz2")" || shown=$?
sed 's/^/  /' "$E2E_WORK/console.txt"
((shown == 0)) || fail "wz2.exe list on the console failed (status $shown)"
grep -q '^表セーブ.DAT  *compressed ' "$E2E_WORK/console.txt" || fail "the console does not show 表セーブ.DAT"
grep -q '^ソ.TXT  *compressed ' "$E2E_WORK/console.txt" || fail "the console does not show ソ.TXT"
grep -qx 'code page 932' "$E2E_WORK/console.txt" || fail "the console's code page changed"

shown=0
on_console "$E2E_WORK/console-error.txt" list "$(win_path "$E2E_WORK/存在しない.WZ2")" || shown=$?
sed 's/^/  /' "$E2E_WORK/console-error.txt"
((shown == 1)) || fail "wz2.exe list of a missing archive ended with $shown, not 1"
grep -q '^wz2: list: .*存在しない.WZ2: ' "$E2E_WORK/console-error.txt" ||
  fail "the console does not show the error naming 存在しない.WZ2"

# Redirected: UTF-8 bytes, as the Linux build writes them (the C runtime's
# CR LF line ends aside).
"$WINE_PREFIX_CMD" exec "$E2E_PREFIX" "$E2E_BIN/wz2.exe" list "$(win_path "$E2E_WORK/update.wz2")" \
  >"$E2E_WORK/list.windows" 2>"$E2E_WORK/list.err" </dev/null || fail "wz2.exe list to a file failed"
"$E2E_TOOL" list "$E2E_WORK/update.wz2" >"$E2E_WORK/list.linux"
tr -d '\r' <"$E2E_WORK/list.windows" | cmp -s - "$E2E_WORK/list.linux" ||
  fail "wz2.exe wrote other bytes to a file than the Linux wz2: $(tr -d '\r' <"$E2E_WORK/list.windows" | od -c | head -3)"

# wz2.exe unpacked as the zip lays it out finds the template beside it
# (..\share\wz2) through its own module path, and builds without --template.
INSTALLED=$E2E_WORK/zip
mkdir -p "$INSTALLED/bin" "$INSTALLED/share/wz2"
cp "$E2E_BIN/wz2.exe" "$INSTALLED/bin/"
arch=i686
[[ $WZ2_WINE_ARCH == win64 ]] && arch=x86_64
cp "$E2E_BIN/updater-noarchive.exe" "$INSTALLED/share/wz2/updater-$arch.exe"
echo 7.7.7 >"$INSTALLED/share/wz2/updater-$arch.version"
"$WINE_PREFIX_CMD" exec "$E2E_PREFIX" "$INSTALLED/bin/wz2.exe" --version </dev/null 2>&1 | tr -d '\r' >"$E2E_WORK/version.txt"
sed 's/^/  /' "$E2E_WORK/version.txt"
grep -q "^$arch template: .*share.wz2.updater-$arch.exe (7.7.7)\$" "$E2E_WORK/version.txt" ||
  fail "wz2.exe --version does not name the template beside it"
# --force: this archive carries no manifest; what is tested is where the
# template is found.
"$WINE_PREFIX_CMD" exec "$E2E_PREFIX" "$INSTALLED/bin/wz2.exe" build-exe -q --force --arch "$arch" \
  --archive "$(win_path "$E2E_WORK/update.wz2")" -o "$(win_path "$E2E_WORK/update.exe")" </dev/null ||
  fail "wz2.exe build-exe found no template"
"$E2E_TOOL" list "$E2E_WORK/update.exe" >"$E2E_WORK/list.exe" || fail "wz2 cannot list the updater wz2.exe built"
grep -v '^check: CRC-32 [0-9A-F]*, matches the archive$' "$E2E_WORK/list.exe" | cmp -s - "$E2E_WORK/list.linux" ||
  fail "the updater wz2.exe built does not carry the archive"
grep -q '^check: CRC-32 ' "$E2E_WORK/list.exe" || fail "the updater wz2.exe built carries no check record"
