#!/usr/bin/env bash
# Proves that the release of the current commit can be checked by anyone:
#  - two unsigned runs of scripts/release.sh, in two clones in different
#    folders, under different umasks and time zones, write identical dist/;
#  - signed with a throwaway self-signed certificate, every program in the zip
#    verifies against it, two signed runs are identical too, and each
#    program's detached signature attached to the unsigned build's program
#    gives the signed program byte for byte;
#  - SHA256SUMS covers every file in dist/ and holds;
#  - the zip holds the third-party notices, the same in every build, and the
#    SBOM is valid CycloneDX 1.6 (checked offline against the schema the
#    pinned @cyclonedx/cyclonedx-library carries), names the commit, and holds
#    the SHA-256 of the programs in the zip, unsigned and signed.
# Checks the committed tree (HEAD), not uncommitted changes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh" release signing release-check
command -v openssl >/dev/null || bash "$root/scripts/install-deps.sh" tests

work=$(mktemp -d "${TMPDIR:-/tmp}/hwpurge-release-check.XXXXXX")
trap 'rm -rf "$work"' EXIT
commit=$(git -C "$root" rev-parse HEAD)
epoch=$(git -C "$root" log -1 --format=%ct "$commit")
one=$work/one/hwpurge
two=$work/elsewhere/deeper/hwpurge-clone
for clone in "$one" "$two"; do
    git clone -q "$root" "$clone"
    git -C "$clone" checkout -q --detach "$commit"
done

fail() {
    echo "release-check: FAILED: $*" >&2
    exit 1
}
# release <clone> <umask> <TZ> <dist copy> [NAME=VALUE...]
release() {
    local clone=$1 mask=$2 zone=$3 out=$4
    shift 4
    (cd "$clone" && umask "$mask" && env TZ="$zone" "$@" bash scripts/release.sh >"$out.log" 2>&1) ||
        { cat "$out.log" >&2; fail "scripts/release.sh in $clone"; }
    cp -r "$clone/dist" "$out"
    (cd "$out" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not hold in $out"
    local listed present
    listed=$(cut -c67- "$out/SHA256SUMS" | sort)
    present=$(cd "$out" && ls | grep -vx SHA256SUMS | sort)
    [[ $listed == "$present" ]] || fail "SHA256SUMS lists [$listed], dist/ holds [$present]"
}

echo "release-check: two unsigned builds"
release "$one" 022 UTC "$work/unsigned-1"
release "$two" 077 Pacific/Chatham "$work/unsigned-2" LC_ALL=C.UTF-8
zip=$(cd "$work/unsigned-1" && ls ./*.zip)
zip=${zip#./}
folder=${zip%.zip}
mkdir -p "$work/unsigned" "$work/unsigned-again" "$work/signed"
(cd "$work/unsigned" && cmake -E tar xf "$work/unsigned-1/$zip")
(cd "$work/unsigned-again" && cmake -E tar xf "$work/unsigned-2/$zip")
# The notices and the SBOM, said apart from the rest of dist/.
cmp "$work/unsigned/$folder/THIRD-PARTY-NOTICES.txt" "$work/unsigned-again/$folder/THIRD-PARTY-NOTICES.txt" ||
    fail "two clones wrote different THIRD-PARTY-NOTICES.txt"
cmp "$work/unsigned-1/$folder.cdx.json" "$work/unsigned-2/$folder.cdx.json" ||
    fail "two clones wrote different SBOMs $folder.cdx.json"
diff -r "$work/unsigned-1" "$work/unsigned-2" >/dev/null 2>&1 ||
    { diff <(cd "$work/unsigned-1" && cat SHA256SUMS) <(cd "$work/unsigned-2" && cat SHA256SUMS) >&2 || true
      fail "two unsigned releases of $commit differ"; }
cat "$work/unsigned-1/SHA256SUMS"

# One folder holding the programs, the README, the LICENSE and the notices,
# nothing else.
[[ $(ls "$work/unsigned") == "$folder" ]] || fail "$zip does not hold exactly the folder $folder"
programs=$(cd "$work/unsigned/$folder" && ls ./*.exe | sed 's|^\./||')
expected=$(printf '%s\n' $programs LICENSE README.md THIRD-PARTY-NOTICES.txt | sort)
[[ $(ls "$work/unsigned/$folder" | sort) == "$expected" ]] || fail "$zip holds $(ls "$work/unsigned/$folder")"
version=${folder#hwpurge-}
version=${version%-win64}
# check_sbom <dist copy> <folder of the programs>
check_sbom() {
    local sbom=$1/$folder.cdx.json
    [[ -f $sbom ]] || fail "no SBOM $folder.cdx.json in $1"
    node "$root/scripts/release-inventory.js" check --sbom "$sbom" --programs "$2" \
        --version "$version" --commit "$commit" --epoch "$epoch" || fail "the SBOM $sbom does not hold"
}
check_sbom "$work/unsigned-1" "$work/unsigned/$folder"

echo "release-check: two signed builds with a throwaway certificate"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=hwpurge release check" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
signing=(HWPURGE_SIGN_CERT="$work/cert.pem" HWPURGE_SIGN_KEY="$work/key.pem")
release "$two" 027 Asia/Kolkata "$work/signed-1" "${signing[@]}"
release "$one" 022 UTC "$work/signed-2" "${signing[@]}"
diff -r "$work/signed-1" "$work/signed-2" >/dev/null 2>&1 || fail "two signed releases of $commit differ"
(cd "$work/signed" && cmake -E tar xf "$work/signed-1/$zip")
check_sbom "$work/signed-1" "$work/signed/$folder"

for program in $programs; do
    signed=$work/signed/$folder/$program
    unsigned=$work/unsigned/$folder/$program
    sig=$work/signed-1/$program.sig
    [[ -f $sig ]] || fail "no detached signature $program.sig"
    cmp -s "$signed" "$unsigned" && fail "$program in the signed zip is not signed"
    osslsigncode verify -CAfile "$work/cert.pem" -in "$signed" >"$work/verify.log" 2>&1 ||
        { cat "$work/verify.log" >&2; fail "$program does not verify"; }
    osslsigncode attach-signature -sigin "$sig" -CAfile "$work/cert.pem" -in "$unsigned" \
        -out "$work/attached-$program" >"$work/attach.log" 2>&1 ||
        { cat "$work/attach.log" >&2; fail "attaching $program.sig failed"; }
    cmp "$work/attached-$program" "$signed" || fail "$program.sig attached to the unsigned build is not the signed $program"
    echo "release-check: $program: signed, verifies, and $program.sig re-attaches byte for byte"
done
for file in README.md LICENSE THIRD-PARTY-NOTICES.txt; do
    cmp "$work/signed/$folder/$file" "$work/unsigned/$folder/$file" || fail "$file differs between the signed and unsigned zips"
done
echo "release-check: passed for $commit"
