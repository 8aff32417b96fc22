# Not enough free space on the installation's drive: the update stops on
# the disk-space page (back and abort on, next off). Abort ends it. Without
# the manifest's test, writing the file finds the lack itself. Back
# returns to the confirm page, whose next repeats the test and stops again;
# after space has been freed, back and next run the update to its end. The
# DataFolder the update names does not exist yet and is created.
#
# The drive is E:, a 4 MiB tmpfs (see lib.sh), since no update can ask for
# more than 4 GiB and the machine's own disk has far more free. It is
# mounted for this scenario alone and unmounted when it ends.

if [[ ! -L $E2E_PREFIX/dosdevices/e: ]] || ! e2e_use_small_disk; then
  echo "SKIPPED: no small disk could be mounted (needs root for a tmpfs)"
  return 77
fi

rm -rf "${E2E_SMALL:?}"/*
INST_WIN='E:\Sorano'
INST=$E2E_SMALL/Sorano
mkdir -p "$INST"
setup_ini "$INST/SETUP.INI"
install_record "$GAME_KEY" "$INST_WIN" '' 1

SRC=$E2E_WORK/src
NEW='2021-03-04 05:06:07 UTC'
REQUIRED=2000000
{
  manifest_setup 'DataFolder=NEWDATA'
  printf '%s\n' '[UPDATE]' "RequiredDiskSpace=$REQUIRED" 'UpdateFile00=u,SOUND.PAK'
} | write_cp932 "$SRC/UPDATE.INI"
make_file "$SRC/SOUND.PAK" 1500000 61
for f in "$SRC"/*; do stamp "$f" "$NEW"; done
pack_updater "$E2E_WORK/update.exe" "$SRC"/* || return 1
# The same file without the manifest's own test: the entry's size is
# weighed against the drive when it is written.
mkdir -p "$SRC/big"
{
  manifest_setup
  printf '%s\n' '[UPDATE]' 'UpdateFile00=u,SOUND.PAK'
} | write_cp932 "$SRC/big/UPDATE.INI"
cp -p "$SRC/SOUND.PAK" "$SRC/big/"
pack_updater "$E2E_WORK/big.exe" "$SRC/big"/* || return 1

make_file "$E2E_SMALL/ballast.bin" 3145728 62
sync
FREE=$(($(stat -f -c '%a * %S' "$E2E_SMALL")))
((FREE < REQUIRED)) || { fail "the small disk has $FREE bytes free"; return 1; }
STOP="ディスク容量が足りません。\\rE: ドライブに $((REQUIRED - FREE)) バイトの空き容量が必要です"
e2e_note "E: has $FREE bytes free; the update asks for $REQUIRED"

stopped_page() {
  step "expect-info $STOP"
  step "expect-button 4 1 戻る"
  step "expect-button 1 0 次へ"
  step "expect-button 2 1 中止"
}

step "log abort on the disk-space page"
start_updater
expect_start_page
step "press 1"
expect_confirm_page
step "press 1"
stopped_page
step "press 2"
expect_interrupted
step "wait-exit u 0"

step "log no RequiredDiskSpace: the write itself finds too little space"
start_updater "$E2E_WORK/big.exe"
expect_start_page
step "press 1"
expect_confirm_page
step "press 1"
expect_error_box "$WINDOW_TITLE" "ディスク容量が足りません。E: ドライブに $((1500000 - FREE)) バイトの空き容量が必要です" dialog
expect_error_box "$WINDOW_TITLE" 'ファイルの書き込みに失敗しました' dialog
expect_interrupted
step "wait-exit u 0"

step "log back, still too little space, then back after freeing some"
start_updater
expect_start_page
step "press 1"
expect_confirm_page
step "press 1"
stopped_page
step "press 4"
expect_confirm_page
step "press 1"
stopped_page
step "delete-file E:\\ballast.bin"
step "press 4"
finish_from_confirm_page
run_driver

expect_file "$INST/NEWDATA/SOUND.PAK" "$SRC/SOUND.PAK" "$NEW"
expect_listing "$INST" SETUP.INI NEWDATA
expect_no_temp_manifest
