# A publisher's branded updater: wz2 build-exe without --template (the
# template of this tree's architecture, found beside the tool's build tree
# as an installed wz2 finds it in share/wz2), with the game's icon and
# Japanese version information. Windows reads the icon and the version
# resource back exactly, and the updater still completes an update.

install_game 1
SRC=$E2E_WORK/src
WHEN='2023-03-03 03:03:03 UTC'
{
  manifest_setup
  printf '%s\n' '[UPDATE]' 'UpdateFile00=README.TXT' 'UpdateFile01=u,SOUND.PAK'
} | write_cp932 "$SRC/UPDATE.INI"
make_text "$SRC/README.TXT" 300 branded-readme
make_file "$SRC/SOUND.PAK" 100000 43
for f in "$SRC"/*; do stamp "$f" "$WHEN"; done

# The Windows helper runs on the scenarios' display: a first window-system
# client without it would leave the prefix's desktop without one.
resources_helper() {
  WINEDEBUG=-all DISPLAY=$(cat "$E2E_DIR/display") "$WINE_PREFIX_CMD" exec "$E2E_PREFIX" "$E2E_BIN/e2e_resources.exe" "$@"
}

# The icon is made by the helper, so that the bytes compared later come
# from the one place.
resources_helper ico "$(win_path "$E2E_WORK/GAME.ico")" \
  </dev/null >"$E2E_WORK/ico.log" 2>&1 || { cat "$E2E_WORK/ico.log"; fail "the helper made no icon"; return 1; }

arch=()
[[ $WZ2_WINE_ARCH == win64 ]] && arch=(--arch x86_64)
"$E2E_TOOL" pack -q -o "$E2E_WORK/update.wz2" "$SRC"/* || { fail "wz2 pack failed"; return 1; }
"$E2E_TOOL" check -q "$E2E_WORK/update.wz2" || fail "wz2 check finds the manifest wrong"
"$E2E_TOOL" build-exe -q "${arch[@]}" --archive "$E2E_WORK/update.wz2" -o "$E2E_WORK/update.exe" \
  --icon "$E2E_WORK/GAME.ico" --version-info FileVersion=1.10.0.3 \
  --version-info 'ProductName=ソラの港 アップデータ' --version-info 'CompanyName=株式会社サクラギ' \
  --version-info 'FileDescription=ソラの港 更新プログラム' --version-info 'LegalCopyright=(C) 2026 Sakuragi' \
  || { fail "wz2 build-exe failed"; return 1; }
"$E2E_TOOL" list "$E2E_WORK/update.exe" >"$E2E_WORK/list.txt" || fail "wz2 list cannot read the branded updater"
grep -q '^icon: 2 images$' "$E2E_WORK/list.txt" || fail "wz2 list shows no two-image icon"
grep -q 'ProductName *ソラの港 アップデータ$' "$E2E_WORK/list.txt" || fail "wz2 list shows no ProductName"

printf '%s\n' 'fixed 1.10.0.3' 'FileVersion=1.10.0.3' 'ProductName=ソラの港 アップデータ' \
  'CompanyName=株式会社サクラギ' 'FileDescription=ソラの港 更新プログラム' 'LegalCopyright=(C) 2026 Sakuragi' |
  write_cp932 "$E2E_WORK/expected.txt"
helper=0
resources_helper check "$(win_path "$E2E_WORK/update.exe")" \
  "$(win_path "$E2E_WORK/GAME.ico")" <"$E2E_WORK/expected.txt" >"$E2E_WORK/resources.log" 2>&1 || helper=$?
sed 's/^/  /' "$E2E_WORK/resources.log"
((helper == 0)) || fail "Windows reads other icon or version information back"

start_updater
expect_start_page
finish_from_start_page
run_driver

expect_file "$INST/README.TXT" "$SRC/README.TXT" "$WHEN"
expect_file "$INST/SOUND.PAK" "$SRC/SOUND.PAK" "$WHEN"
expect_no_temp_manifest
