# Manifests and installations at the edges of what Windows paths allow: an
# "o" entry whose target is longer than 259 bytes is skipped without a word;
# a file in a folder too long for a temporary name beside it is still
# written; an overlong field in an entry for another install mode is
# dropped, not refused; a temporary file an earlier, killed run left beside
# a target over an hour ago is removed, while one written just now (another
# updater may be writing it) stays. The run finishes and exits with 1.

install_game 1
SRC=$E2E_WORK/src
WHEN='2021-06-06 06:06:06 UTC'
# "C:\Games\Sorano\" is 16 bytes: with 235 more the folder is 251 bytes,
# past the 246 that leave room for a temporary name, and "\NEW.DAT" makes a
# target of 259 bytes, the most Windows takes.
LONG_DIR=$(printf 'L%.0s' $(seq 235))
{
  manifest_setup
  cat <<INI
[UPDATE]
UpdateFile00=o,$LONG_DIR\\OVERWRITE.DAT
UpdateFile01=README.TXT
UpdateFile02=$LONG_DIR\\NEW.DAT
UpdateFile03=2,u,$(printf 'X%.0s' $(seq 300))
UpdateFile04=u,SOUND.PAK
INI
} | write_cp932 "$SRC/UPDATE.INI"
make_text "$SRC/README.TXT" 100 rare-readme
make_text "$SRC/NEW.DAT" 100 rare-new
make_text "$SRC/OVERWRITE.DAT" 100 rare-overwrite
make_file "$SRC/SOUND.PAK" 5000 61
for f in "$SRC"/*; do stamp "$f" "$WHEN"; done
pack_updater "$E2E_WORK/update.exe" "$SRC"/* || return 1

mkdir -p "$INST/$LONG_DIR"
echo 'left by a killed run' >"$INST/~UP1F2E.TMP"
stamp "$INST/~UP1F2E.TMP" "@$(($(date +%s) - 7200))"
echo 'being written' >"$INST/~UP2A3B.TMP"
echo 'not ours' >"$INST/~UPDATE.TMP"

start_updater
expect_start_page
finish_from_start_page
run_driver

expect_file "$INST/README.TXT" "$SRC/README.TXT" "$WHEN"
expect_file "$INST/SOUND.PAK" "$SRC/SOUND.PAK" "$WHEN"
expect_file "$INST/$LONG_DIR/NEW.DAT" "$SRC/NEW.DAT" "$WHEN"
expect_listing "$INST/$LONG_DIR" NEW.DAT
expect_absent "$INST/~UP1F2E.TMP"
expect_same_bytes "$INST/~UP2A3B.TMP" <(echo 'being written')
expect_same_bytes "$INST/~UPDATE.TMP" <(echo 'not ours')
expect_no_temp_manifest
