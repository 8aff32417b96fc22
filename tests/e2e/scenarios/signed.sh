# A publisher signs the built updater after build-exe: the signature
# verifies, wz2 still reads the archive out of the signed executable, and the
# signed updater still runs a complete update under Wine.

install_game 1
SRC=$E2E_WORK/src
WHEN='2022-02-02 02:02:02 UTC'
{
  manifest_setup
  printf '%s\n' '[UPDATE]' 'UpdateFile00=README.TXT' 'UpdateFile01=u,SOUND.PAK'
} | write_cp932 "$SRC/UPDATE.INI"
make_text "$SRC/README.TXT" 500 signed-readme
make_file "$SRC/SOUND.PAK" 200000 41
for f in "$SRC"/*; do stamp "$f" "$WHEN"; done
pack_updater "$E2E_WORK/unsigned.exe" "$SRC"/* || return 1

# A throwaway self-signed certificate, as a release script would use a real one.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Sakuragi test publisher' \
  -keyout "$E2E_WORK/key.pem" -out "$E2E_WORK/cert.pem" >"$E2E_WORK/openssl.log" 2>&1 ||
  { cat "$E2E_WORK/openssl.log"; fail "openssl could not make a certificate"; return 1; }
osslsigncode sign -certs "$E2E_WORK/cert.pem" -key "$E2E_WORK/key.pem" -h sha256 \
  -in "$E2E_WORK/unsigned.exe" -out "$E2E_WORK/update.exe" >"$E2E_WORK/sign.log" 2>&1 ||
  { cat "$E2E_WORK/sign.log"; fail "osslsigncode could not sign the updater"; return 1; }
osslsigncode verify -CAfile "$E2E_WORK/cert.pem" "$E2E_WORK/update.exe" >"$E2E_WORK/verify.log" 2>&1 ||
  { cat "$E2E_WORK/verify.log"; fail "the signature of the built updater does not verify"; }

# The signed executable still lists, and build-exe refuses it as a template.
"$E2E_TOOL" list "$E2E_WORK/update.exe" >"$E2E_WORK/list.txt" 2>&1 || fail "wz2 list cannot read the signed updater"
grep -q 'SOUND.PAK' "$E2E_WORK/list.txt" || fail "wz2 list of the signed updater lacks SOUND.PAK"
if "$E2E_TOOL" build-exe --template "$E2E_WORK/update.exe" --archive "$E2E_WORK/unsigned.wz2" \
  -o "$E2E_WORK/resigned.exe" >/dev/null 2>&1; then
  fail "build-exe accepted a signed template"
fi
expect_absent "$E2E_WORK/resigned.exe"

start_updater
expect_start_page
finish_from_start_page
run_driver

expect_file "$INST/README.TXT" "$SRC/README.TXT" "$WHEN"
expect_file "$INST/SOUND.PAK" "$SRC/SOUND.PAK" "$WHEN"
expect_no_temp_manifest
