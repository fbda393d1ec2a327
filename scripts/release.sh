#!/usr/bin/env bash
# Builds the release package of hwpurge's Windows programs:
#
#   dist/hwpurge-<version>-win64.zip   one folder hwpurge-<version>-win64/ with
#                                      the programs, README.md, LICENSE and
#                                      THIRD-PARTY-NOTICES.txt
#   dist/hwpurge-<version>-win64.cdx.json
#                                      the SBOM (CycloneDX 1.6 JSON): the programs
#                                      with their SHA-256, the runtime parts linked
#                                      into them, the build tools
#   dist/<program>.exe.sig             with signing: each program's detached
#                                      Authenticode signature
#   dist/SHA256SUMS                    the SHA-256 of every other file in dist/
#
# The notices and the SBOM come from the link itself: the linker's map of each
# program names every archive member it took, and scripts/release-inventory.js
# traces each to its source file and the licence Debian's copyright file of its
# package gives it.
#
# Two runs on the same commit give the same bytes, whatever the folder, time,
# umask, time zone or locale: the only time used is the commit's
# (SOURCE_DATE_EPOCH), and the programs carry no time stamp, no build path and
# no debug sections. The SBOM's time is that time too, and its serial number is
# made from its content.
#
# Signing: with HWPURGE_SIGN_CERT and HWPURGE_SIGN_KEY set (PEM certificate
# chain and its unencrypted private key), each program is signed (SHA-256,
# signing time = SOURCE_DATE_EPOCH) before it goes into the zip, and its
# signature is also written alone, as `osslsigncode extract-signature` writes
# it. Attaching that signature to the unsigned program of a rebuild gives the
# signed program byte for byte.
#
# Installs what it needs where it is missing (scripts/install-deps.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# The programs the package ships: each one a hwpurge_windows_program() target.
programs=(hwpurge hwpurge-preview)

sign=false
if [[ -n "${HWPURGE_SIGN_CERT:-}${HWPURGE_SIGN_KEY:-}" ]]; then
    for file in "${HWPURGE_SIGN_CERT:-}" "${HWPURGE_SIGN_KEY:-}"; do
        if [[ ! -f $file ]]; then
            echo "release.sh: signing needs both HWPURGE_SIGN_CERT and HWPURGE_SIGN_KEY as PEM files; not a file: '$file'" >&2
            exit 1
        fi
    done
    sign=true
fi
needs=(release)
$sign && needs+=(signing)
bash scripts/install-deps.sh "${needs[@]}"

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export TZ=UTC LC_ALL=C
umask 022

build=$root/build/release
rm -rf "$build"
# The linker's map is written beside each program; the programs stay the same.
cmake --preset release -DHWPURGE_LINK_MAP=ON
cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=hwpurge-$version-win64

stage=$build/package
dist=$root/dist
rm -rf "$dist"
mkdir -p "$stage/$name" "$dist"
entries=()
for program in "${programs[@]}"; do
    exe=$build/$program.exe
    cmake -DPROGRAM="$exe" -P tests/pe/check_imports.cmake >/dev/null
    cmake -DPROGRAM="$exe" -DSTRIPPED=ON -DFORBIDDEN="$root" -P tests/pe/check_pe_header.cmake
    if $sign; then
        osslsigncode sign -certs "$HWPURGE_SIGN_CERT" -key "$HWPURGE_SIGN_KEY" -h sha256 -time "$SOURCE_DATE_EPOCH" \
            -n "$program" -in "$exe" -out "$stage/$name/$program.exe" >/dev/null
        osslsigncode extract-signature -in "$stage/$name/$program.exe" -out "$dist/$program.exe.sig" >/dev/null
    else
        cp "$exe" "$stage/$name/$program.exe"
    fi
    entries+=("$name/$program.exe")
done
cp README.md LICENSE "$stage/$name/"
entries+=("$name/README.md" "$name/LICENSE")

# The notices the link needs, and the SBOM of the programs as shipped (signed
# where they are).
tools=(--tool "$(command -v zip)")
$sign && tools+=(--tool "$(command -v osslsigncode)")
node scripts/release-inventory.js write --build "$build" --programs "$stage/$name" \
    --name hwpurge --version "$version" --commit "$(git rev-parse HEAD)" --epoch "$SOURCE_DATE_EPOCH" \
    --notices "$stage/$name/THIRD-PARTY-NOTICES.txt" --sbom "$stage/$name.cdx.json" "${tools[@]}" "${programs[@]}"
entries+=("$name/THIRD-PARTY-NOTICES.txt")

# Fixed modes, times and order; no extra fields (owner, access times).
chmod 755 "$stage/$name"
chmod 644 "$stage/$name"/*
touch -d "@$SOURCE_DATE_EPOCH" "$stage/$name"/*
(cd "$stage" && zip -X -D -q "$dist/$name.zip" "${entries[@]}")
chmod 644 "$stage/$name.cdx.json"
mv "$stage/$name.cdx.json" "$dist/$name.cdx.json"
(cd "$dist" && sha256sum -- * >"$stage/SHA256SUMS") && mv "$stage/SHA256SUMS" "$dist/SHA256SUMS"

echo "release.sh: $name from commit $(git rev-parse --short HEAD 2>/dev/null || echo '?') (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)$($sign && echo ', signed')"
(cd "$dist" && ls -l && cat SHA256SUMS)
