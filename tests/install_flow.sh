#!/usr/bin/env bash
# The publisher's flow from an installed wz2: the host tree installed into a
# temporary prefix, and its Debian package unpacked with dpkg-deb, each run
# examples/release.sh (pack, check, build-exe without --template, with an
# icon and Japanese version information, signing) on a small update; and
# the package runs README's five steps, the commands taken from README
# itself, so that README cannot drift from the tool.
#
#   install_flow.sh BUILD_DIR SOURCE_DIR WIN32_BIN_DIR WIN64_BIN_DIR
#
# Skipped (77) when the Windows trees have not built the templates.
set -uo pipefail
build=$1 source=$2 win32=$3 win64=$4
failures=0
fail() { echo "CHECK FAILED: $*"; failures=$((failures + 1)); }

for bin in "$3" "$4"; do
  [[ -f $bin/updater-noarchive.exe ]] || { echo "no template in '$bin': skipped (build the win32 and win64 presets)"; exit 77; }
done
work=$(mktemp -d /tmp/wz2-install-XXXXXX)
trap 'rm -rf "$work"' EXIT

# A small update: the manifest in code page 932 with CR LF, two files.
mkdir -p "$work/update"
printf '%s\n' '[SETUP]' 'CompanyName=Sakuragi' 'GameTitle=ソラの港' 'GameClass=SoraWindow' 'GameDir=Sorano' \
  '[UPDATE]' 'UpdateFile00=README.TXT' 'UpdateFile01=u,SOUND.PAK' |
  sed 's/$/\r/' | iconv -f UTF-8 -t CP932 >"$work/update/UPDATE.INI"
seq 1 500 >"$work/update/README.TXT"
head -c 20000 /dev/urandom >"$work/update/SOUND.PAK"
# The installed game's profile, complete: check loads it as the updater does.
printf '%s\n' '[SETUP]' 'CompanyName=Sakuragi' 'GameTitle=ソラの港' 'GameDir=Sorano' 'GameExe=SORA.EXE' \
  'UninstExe=UNINST.EXE' 'SetupBmp=SETUP.BMP' 'InstallSelects=1' 'InstallTitle0=標準' 'InstallFiles0=SORA.EXE' \
  'Shortcuts=0' | sed 's/$/\r/' | iconv -f UTF-8 -t CP932 >"$work/SETUP.INI"
python3 - "$work/GAME.ico" <<'PY'
import struct, sys
def bitmap(size, seed):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytes((seed + i) & 255 for i in range(size * size * 4))
    return header + pixels + bytes((size + 31) // 32 * 4 * size)
images = [bitmap(16, 3), bitmap(32, 7)]
out = struct.pack('<HHH', 0, 1, len(images))
offset = 6 + 16 * len(images)
for size, image in zip((16, 32), images):
    out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), offset)
    offset += len(image)
open(sys.argv[1], 'wb').write(out + b''.join(images))
PY
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=wz2-release-test -addext extendedKeyUsage=codeSigning \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1 || fail "openssl made no certificate"

# same_templates ROOT: the templates under ROOT/share/wz2 are the built ones.
same_templates() {
  cmp -s "$1/share/wz2/updater-i686.exe" "$win32/updater-noarchive.exe" || fail "$1: the i686 template differs"
  cmp -s "$1/share/wz2/updater-x86_64.exe" "$win64/updater-noarchive.exe" || fail "$1: the x86_64 template differs"
}

# publisher_flow NAME WZ2: the release script with that wz2, then checks.
publisher_flow() {
  local name=$1 wz2=$2 out=$work/$1-out
  echo "== $name: $wz2"
  WZ2=$wz2 ICON=$work/GAME.ico PRODUCT_NAME='ソラの港 アップデータ' COMPANY_NAME='株式会社サクラギ' \
    DESCRIPTION='ソラの港 更新プログラム' COPYRIGHT='(C) 2026 Sakuragi' \
    SIGN_CERT=$work/cert.pem SIGN_KEY=$work/key.pem \
    "$source/examples/release.sh" "$work/update" "$work/SETUP.INI" 1.10.0.0 "$out" >"$work/$name.log" 2>&1 ||
    { cat "$work/$name.log"; fail "$name: the release script failed"; return; }
  grep -q '^i686 template: .*/share/wz2/updater-i686.exe (' "$work/$name.log" ||
    fail "$name: --version names no installed i686 template"
  osslsigncode verify -CAfile "$work/cert.pem" "$out/UPDATE.EXE" >/dev/null 2>&1 ||
    fail "$name: the signed updater does not verify"
  python3 - "$out" <<'PY' || fail "$name: the release's JSON or executable is not as built"
import json, struct, sys
out = sys.argv[1]
check = json.load(open(out + '/check.json', encoding='utf-8'))
assert check['errors'] == 0 and check['findings'] == [], check
listing = json.load(open(out + '/contents.json', encoding='utf-8'))
assert listing['executable'] and listing['icons'] == 2, listing
names = sorted(e['name'] for e in listing['entries'])
assert names == ['README.TXT', 'SOUND.PAK', 'UPDATE.INI'], names
v = listing['versionInfo']
assert v['fileVersion'] == '1.10.0.0' and v['table'] == '041103A4', v
assert v['strings']['ProductName'] == 'ソラの港 アップデータ', v
assert v['strings']['CompanyName'] == '株式会社サクラギ', v
exe = open(out + '/UPDATE.EXE', 'rb').read()
pe = struct.unpack_from('<I', exe, 0x3C)[0]
assert struct.unpack_from('<H', exe, pe + 4)[0] == 0x14C, 'not the i686 template'
PY
  "$wz2" extract "$out/UPDATE.EXE" -C "$work" SOUND.PAK >/dev/null || fail "$name: extract failed"
  cmp -s "$work/SOUND.PAK" "$work/update/SOUND.PAK" || fail "$name: SOUND.PAK differs"
  rm -f "$work/SOUND.PAK"
}

# readme_walk BIN: README's runnable blocks (```sh) of "The five steps", in
# order and as written, with BIN first on PATH, in a folder holding what
# README says it holds.
readme_walk() {
  local bin=$1 walk=$work/readme-walk
  mkdir -p "$walk"
  awk '/^### The five steps/ { on = 1; next } on && /^##/ { exit }
       on && /^ *```sh$/ { code = 1; next } on && /^ *```/ { code = 0; next }
       on && code { sub(/^   /, ""); print }' "$source/README.md" >"$work/readme.sh"
  [[ $(grep -c '^wz2 ' "$work/readme.sh") -ge 4 && $(grep -c '^osslsigncode ' "$work/readme.sh") -ge 2 ]] ||
    { cat "$work/readme.sh"; fail "README: the five steps' commands were not found"; return; }
  cp "$work/SETUP.INI" "$work/GAME.ico" "$walk/"
  cp "$work/update/README.TXT" "$work/update/SOUND.PAK" "$walk/"
  cp "$work/cert.pem" "$walk/publisher.crt"
  cp "$work/key.pem" "$walk/publisher.key"
  cp "$work/cert.pem" "$walk/ca.crt"
  echo "== README, as written, from $bin"
  (cd "$walk" && PATH="$bin:$PATH" bash -euo pipefail "$work/readme.sh") >"$work/readme.log" 2>&1 ||
    { cat "$work/readme.log"; fail "README's steps failed as written"; return; }
  "$bin/wz2" list "$walk/UPDATE-signed.EXE" >"$work/readme-list.txt" 2>&1 || fail "README: the signed updater does not list"
  for name in UPDATE.INI README.TXT SOUND.PAK; do
    grep -q "^$name " "$work/readme-list.txt" || fail "README: the signed updater lacks $name"
  done
  "$bin/wz2" check --strict --setup "$walk/SETUP.INI" --inst-mode 1 "$walk/UPDATE-signed.EXE" >/dev/null 2>&1 ||
    fail "README: the signed updater does not pass check"
}

cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "cmake --install failed"; }
for f in bin/wz2 share/wz2/updater-i686.exe share/wz2/updater-x86_64.exe share/wz2/updater-i686.version \
  share/wz2/updater-x86_64.version share/man/man1/wz2.1.gz; do
  [[ -f $work/prefix/$f ]] || fail "the install lacks $f"
done
same_templates "$work/prefix"
publisher_flow installed "$work/prefix/bin/wz2"

if command -v dpkg-deb >/dev/null && command -v cpack >/dev/null; then
  (cd "$build" && cpack -G DEB -B "$work/package") >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack made no Debian package"; }
  deb=$(find "$work/package" -maxdepth 1 -name '*.deb' 2>/dev/null | sort | head -1)
  if [[ -n $deb ]]; then
    depends=$(dpkg-deb -f "$deb" Depends)
    [[ $depends == *libc6* && $depends == *libstdc++6* ]] || fail "the package's Depends lacks libc6 or libstdc++6: $depends"
    dpkg-deb -x "$deb" "$work/deb"
    [[ -f $work/deb/usr/share/man/man1/wz2.1.gz ]] || fail "the package has no manual page"
    same_templates "$work/deb/usr"
    publisher_flow deb "$work/deb/usr/bin/wz2"
    for f in copyright changelog.gz; do
      [[ -f $work/deb/usr/share/doc/wz2/$f ]] || fail "the package has no /usr/share/doc/wz2/$f"
    done
    readme_walk "$work/deb/usr/bin"
  fi
fi
((failures == 0)) && echo "install flow: passed"
exit $((failures > 0))
