#!/usr/bin/env node
// What the release's programs are made of, read from the link itself.
//
//   node scripts/release-inventory.js write --build <dir> --programs <dir>
//        --name <product> --version <v> --commit <sha> --epoch <seconds>
//        --notices <file> --sbom <file> [--tool <command>]... <program>...
//   node scripts/release-inventory.js check --sbom <file> --programs <dir>
//        --version <v> --commit <sha> --epoch <seconds>
//
// write reads <build>/<program>.map, the linker's map of each program, for
// every object file and archive member the link took. Each one outside the
// build tree is traced to the Debian package that ships it (dpkg -S) and,
// through the debug information that names its source file, to the Files
// paragraphs of that package's machine-readable copyright file. From that it
// writes the third-party notices the link needs (the licence paragraphs of the
// copyright files, grouped by licence) and a CycloneDX 1.6 SBOM of the
// programs (<programs>/<program>.exe as shipped), their runtime parts and the
// build tools. Both depend only on the link, the installed packages and the
// arguments, so a rebuild writes the same bytes.
//
// check validates the SBOM against the CycloneDX 1.6 schema (offline: the
// schemas come with the pinned @cyclonedx/cyclonedx-library), its licence
// identifiers against the SPDX list, and its hashes against the programs.
'use strict';
const fs = require('fs');
const path = require('path');
const crypto = require('crypto');
const { execFileSync } = require('child_process');

// The CycloneDX format version written and validated.
const CYCLONEDX_VERSION = '1.6';

function fail(message) {
    process.stderr.write(`release-inventory: ${message}\n`);
    process.exit(1);
}

function run(command, args) {
    return execFileSync(command, args, { encoding: 'utf8', maxBuffer: 1 << 30, stdio: ['ignore', 'pipe', 'pipe'] });
}

// Code-point order, the same in every locale.
function byText(a, b) {
    return a < b ? -1 : a > b ? 1 : 0;
}
function sortedUnique(items) {
    return [...new Set(items)].sort(byText);
}

// ---------------------------------------------------------------- the map

// Every input file the link took: archive members ("Archive member included"
// section) and plain object files (LOAD lines that name no archive).
function readLinkMap(file, buildDir) {
    const inputs = [];
    let inMembers = false;
    for (const line of fs.readFileSync(file, 'utf8').split('\n')) {
        if (line.startsWith('Archive member included')) {
            inMembers = true;
            continue;
        }
        if (/^(Discarded input sections|Allocating common symbols|Memory Configuration)/.test(line)) inMembers = false;
        if (inMembers && /^\S/.test(line)) {
            const m = /^(.+?)\(([^()]+)\)(\s|$)/.exec(line);
            if (!m) fail(`${file}: cannot read the archive member line '${line}'`);
            inputs.push({ file: path.resolve(buildDir, m[1]), member: m[2] });
        }
        const load = /^LOAD (.+)$/.exec(line);
        if (load && !load[1].endsWith('.a') && load[1] !== 'dll stuff' && load[1] !== 'linker stubs') {
            inputs.push({ file: path.resolve(buildDir, load[1]), member: null });
        }
    }
    if (!inputs.some((input) => input.member === null) || !inputs.some((input) => input.member !== null)) {
        fail(`${file} lists no object files or no archive members: not a linker map of a program`);
    }
    return inputs;
}

// ------------------------------------------------------------ the objects

// For each member of an archive (or the one object file): the source files
// its debug information names, and whether it is an import stub (dlltool's
// .idata sections, made from a module-definition file).
const objectCache = new Map();
function describeObjects(file) {
    if (objectCache.has(file)) return objectCache.get(file);
    const dump = run('x86_64-w64-mingw32-objdump', ['-h', '--dwarf=info', '--dwarf-depth=1', file]);
    const members = new Map();
    let current = null;
    for (const line of dump.split('\n')) {
        const header = /^(\S.*?):\s+file format /.exec(line);
        if (header) {
            const name = file.endsWith('.a') ? header[1] : null;
            // An archive may hold two members of one name: what either says counts.
            current = members.get(name) || { sources: [], importStub: false };
            members.set(name, current);
            continue;
        }
        if (!current) continue;
        if (/^\s+\d+ \.idata\$/.test(line)) current.importStub = true;
        const source = /DW_AT_name\s*:.*?(?:\):)?\s(\S+)\s*$/.exec(line);
        if (source) current.sources.push(source[1].replace(/^\.\//, ''));
    }
    objectCache.set(file, members);
    return members;
}

// ------------------------------------------------------------ the packages

const packageCache = new Map();
function toolPackage(file) {
    try {
        run('dpkg', ['-S', fs.realpathSync(file)]);
    } catch (e) {
        return null;
    }
    return owningPackage(file);
}
function owningPackage(file) {
    if (packageCache.has(file)) return packageCache.get(file);
    let answer = null;
    for (const candidate of sortedUnique([file, fs.realpathSync(file)])) {
        try {
            const out = run('dpkg', ['-S', candidate]).trim().split('\n');
            const m = /^([^:,\s]+)(?::[a-z0-9]+)?: /.exec(out[0]);
            if (out.length === 1 && m) {
                answer = m[1];
                break;
            }
        } catch (e) {
            // not this path; try the resolved one
        }
    }
    if (!answer) fail(`no Debian package ships ${file} (dpkg -S): cannot tell its licence`);
    const [version, arch, source] = run('dpkg-query', ['-W', '-f=${Version}\t${Architecture}\t${source:Package}', answer]).split('\t');
    const info = { name: answer, version, arch, source, copyright: readCopyright(answer) };
    packageCache.set(file, info);
    return info;
}

// A Debian copyright file: DEP-5 paragraphs when it is machine-readable.
function readCopyright(pkg) {
    const file = `/usr/share/doc/${pkg}/copyright`;
    if (!fs.existsSync(file)) fail(`${pkg} has no copyright file ${file}`);
    const text = fs.readFileSync(file, 'utf8');
    const copyright = { file, text, machineReadable: /^Format:/.test(text), files: [], licenses: new Map() };
    if (!copyright.machineReadable) return copyright;
    for (const block of text.split(/\n[ \t]*\n/)) {
        const fields = new Map();
        let last = null;
        for (const line of block.split('\n')) {
            if (/^[ \t]/.test(line) && last) fields.get(last).push(line);
            else {
                const m = /^([A-Za-z-]+):[ \t]*(.*)$/.exec(line);
                if (!m) continue;
                last = m[1].toLowerCase();
                fields.set(last, [m[2]]);
            }
        }
        if (!fields.has('license')) continue;
        const [names, ...body] = fields.get('license');
        const license = { names: names.trim(), text: body.map(licenseLine).join('\n').replace(/\s+$/, '') };
        if (fields.has('files')) {
            copyright.files.push({
                patterns: fields.get('files').join(' ').trim().split(/\s+/),
                copyright: (fields.get('copyright') || []).map((line) => line.trim()).filter(Boolean),
                license,
            });
        } else {
            copyright.licenses.set(license.names, license.text);
        }
    }
    return copyright;
}
function licenseLine(line) {
    const text = line.replace(/^[ \t]/, '');
    return text === '.' ? '' : text;
}

function globRegExp(pattern) {
    const body = pattern.replace(/[.+^${}()|[\]\\]/g, '\\$&').replace(/\*/g, '.*').replace(/\?/g, '.');
    return new RegExp(`^${body}$`, 's');
}

// The Files paragraphs that apply to a source path: the last one that matches
// (DEP-5's rule), and any other that names the file outright, as a maintainer
// who names one file in two paragraphs means both.
function paragraphsFor(copyright, source) {
    const matching = copyright.files.filter((p) => p.patterns.some((pattern) => globRegExp(pattern).test(source)));
    if (matching.length === 0) return [];
    const last = matching[matching.length - 1];
    return matching.filter((p) => p === last || p.patterns.includes(source));
}

// ------------------------------------------------------------ the licences

// What each licence of the copyright files asks of a binary: 'notice' (its
// text goes with the program), 'none' (no notice asked) or 'more' (the
// copyleft ones: the release stops until someone decides). spdx is the SPDX
// expression (LicenseRef- where the list has none). A licence not listed
// stops the release too.
const LICENSES = {
    'ZPL-2.1': { needs: 'notice', spdx: 'ZPL-2.1' },
    Lucent: { needs: 'notice', spdx: 'LicenseRef-Lucent' },
    'David-Gay': { needs: 'notice', spdx: 'LicenseRef-David-Gay' },
    'Permissive-Sun': { needs: 'notice', spdx: 'SunPro' },
    'BSD-2-clause-NetBSD': { needs: 'notice', spdx: 'BSD-2-Clause' },
    'BSD-3-clause': { needs: 'notice', spdx: 'BSD-3-Clause' },
    'BSD-3-clause-MinGW-w64': { needs: 'notice', spdx: 'BSD-3-Clause' },
    'BSD-3-clause-Lockless': { needs: 'notice', spdx: 'BSD-3-Clause' },
    ISC: { needs: 'notice', spdx: 'ISC' },
    expat: { needs: 'notice', spdx: 'MIT' },
    'public-domain': { needs: 'none', spdx: 'LicenseRef-public-domain' },
    'public-domain-Vizzini': { needs: 'none', spdx: 'LicenseRef-public-domain' },
    'Keith-Marshall': { needs: 'none', spdx: 'LicenseRef-Keith-Marshall' },
    'GPL-2+': { needs: 'more' },
    'GPL-3+': { needs: 'more' },
    'LGPL-2+': { needs: 'more' },
    'LGPL-2.1+': { needs: 'more' },
    Cygwin: { needs: 'more' },
};
const GCC_RUNTIME = 'GPL-3.0-or-later WITH GCC-exception-3.1';
// The runtime libraries Debian's GCC copyright file puts under the GCC Runtime
// Library Exception (libgcc, with gcc/crtstuff.c; libssp; libstdc++-v3).
const GCC_RUNTIME_FILES = new Set(['libgcc.a', 'libgcc_eh.a', 'libssp.a', 'libssp_nonshared.a', 'libstdc++.a', 'crtbegin.o', 'crtend.o', 'crtfastmath.o']);
// libstdc++'s floating-point conversions carry code from other projects
// (Ryu, fast_float) that the copyright file does not list: a release that
// links them stops until their licences are added here.
const UNLISTED_GCC_MEMBERS = /floating_(to|from)_chars/;

function splitLicenseNames(names) {
    return names.split(/\s*,?\s+(?:and|or)\s+|\s*,\s*/i).filter(Boolean);
}

function licenseText(copyright, paragraph, name) {
    if (paragraph.license.text && splitLicenseNames(paragraph.license.names).length === 1) return paragraph.license.text;
    if (copyright.licenses.has(name)) return copyright.licenses.get(name);
    const inline = copyright.files.find((p) => p.license.names === name && p.license.text);
    if (inline) return inline.license.text;
    fail(`${copyright.file} has no text for the licence ${name}`);
}

// Paths that may hold a source file of a package whose members' debug
// information names no source: every directory the copyright file's patterns
// name under the source trees that the package's other linked members come
// from (all of them when none says).
function candidateSources(copyright, roots, basenames) {
    const dirs = new Set(['']);
    for (const p of copyright.files) {
        for (const pattern of p.patterns) {
            const parts = pattern.split('/');
            for (let i = 1; i < parts.length; i++) {
                if (/[*?]/.test(parts[i - 1])) break;
                dirs.add(parts.slice(0, i).join('/') + '/');
            }
        }
    }
    const inRoots = [...dirs].filter((dir) => roots.length === 0 || roots.some((root) => dir.startsWith(root)));
    return sortedUnique(inRoots.flatMap((dir) => basenames.map((base) => dir + base)));
}

// One linked input, traced to its licences.
function traceInput(input, buildDir, rootsByPackage) {
    const library = input.file;
    const relativeToBuild = path.relative(buildDir, library);
    if (!relativeToBuild.startsWith('..') && !path.isAbsolute(relativeToBuild)) return null; // the project's own
    if (!fs.existsSync(library)) fail(`the map names ${library}, which is not there`);
    const pkg = owningPackage(library);
    const base = path.basename(library);
    const objects = describeObjects(library).get(input.member);
    if (!objects) fail(`${base} holds no member ${input.member}`);
    const trace = { library: fs.realpathSync(library), base, member: input.member || base, pkg, sources: [], certain: true, licenses: [] };
    const { copyright } = pkg;
    if (!copyright.machineReadable) {
        if (!/GCC RUNTIME LIBRARY EXCEPTION/.test(copyright.text) || !GCC_RUNTIME_FILES.has(base)) {
            fail(`${base}(${trace.member}) from ${pkg.name}: its copyright file is not machine-readable and the file is not one of GCC's runtime libraries`);
        }
        if (UNLISTED_GCC_MEMBERS.test(trace.member)) fail(`${base}(${trace.member}) carries code whose licence Debian's copyright file does not list`);
        trace.gccRuntime = true;
        return trace;
    }
    let sources = sortedUnique(objects.sources);
    if (sources.length === 0) {
        // No debug information: every file it could come from.
        trace.certain = false;
        const stem = base.replace(/^lib/, '').replace(/\.a$/, '');
        const basenames = objects.importStub
            ? [`${stem}.def`, `${stem}.def.in`]
            : [trace.member.replace(/^lib64_lib\w+?_a-/, '').replace(/\.o(bj)?$/, '.c'), trace.member.replace(/^lib64_lib\w+?_a-/, '').replace(/\.o(bj)?$/, '.S')];
        const roots = rootsByPackage.get(pkg.name) || [];
        // MinGW-w64 keeps the module-definition files of its import libraries
        // in lib-common/ and, for 64-bit ones, lib64/.
        sources = objects.importStub && roots.length
            ? sortedUnique(roots.flatMap((root) => ['lib-common/', 'lib64/'].flatMap((dir) => basenames.map((b) => root + dir + b))))
            : candidateSources(copyright, roots, basenames);
        trace.why = objects.importStub ? `import stubs, made by dlltool from ${stem}'s module-definition file,` : 'members whose debug information names no source';
    }
    trace.sources = sources;
    for (const source of sources) {
        const paragraphs = paragraphsFor(copyright, source);
        if (paragraphs.length === 0 && trace.certain) fail(`${copyright.file} has no Files paragraph for ${source}`);
        for (const paragraph of paragraphs) {
            for (const name of splitLicenseNames(paragraph.license.names)) {
                const policy = LICENSES[name];
                if (!policy) fail(`${base}(${trace.member}) comes from ${source}, under the licence ${name}, which this script does not know: say in LICENSES what it asks of a binary`);
                if (policy.needs !== 'notice' && policy.needs !== 'none') fail(`${base}(${trace.member}) comes from ${source}, under ${name}, which asks more of a binary than a notice: the release stops until someone decides`);
                trace.licenses.push({ name, source, paragraph, policy });
            }
        }
    }
    return trace;
}

function traceProgram(buildDir, program) {
    const mapFile = path.join(buildDir, `${program}.map`);
    if (!fs.existsSync(mapFile)) fail(`no linker map ${mapFile}: build with -DHWPURGE_LINK_MAP=ON`);
    const inputs = readLinkMap(mapFile, buildDir);
    // The source trees each package's members name, for those that name none.
    const roots = new Map();
    const traces = [];
    const later = [];
    for (const input of inputs) {
        const outside = path.relative(buildDir, input.file).startsWith('..');
        if (outside && fs.existsSync(input.file) && describeObjects(input.file).get(input.member)?.sources.length === 0) {
            later.push(input);
            continue;
        }
        const trace = traceInput(input, buildDir, roots);
        if (!trace) continue;
        traces.push(trace);
        for (const source of trace.sources) {
            const list = roots.get(trace.pkg.name) || [];
            roots.set(trace.pkg.name, sortedUnique([...list, source.split('/')[0] + '/']));
        }
    }
    for (const input of later) traces.push(traceInput(input, buildDir, roots));
    return traces;
}

// ------------------------------------------------------------ the notices

// Text wrapped at 76 columns, its lines after the first indented by `indent`.
function wrap(text, indent = '') {
    const lines = [];
    let line = '';
    for (const word of text.split(/\s+/).filter(Boolean)) {
        if (line && line.length + 1 + word.length > 76) {
            lines.push(line);
            line = indent + word;
        } else line = line ? `${line} ${word}` : word;
    }
    lines.push(line);
    return lines.join('\n');
}

function writeNotices(options, programs, tracesByProgram) {
    // Each linked member once, with the programs that take it.
    const linked = new Map();
    for (const program of programs) {
        for (const trace of tracesByProgram.get(program)) {
            const key = `${trace.library}\0${trace.member}`;
            const entry = linked.get(key) || { trace, programs: [] };
            entry.programs.push(`${program}.exe`);
            linked.set(key, entry);
        }
    }
    // One row per library, source (or possible sources) and programs.
    const rows = new Map();
    const groups = new Map(); // licence name -> { text, copyrights, sources, pkg }
    for (const { trace, programs: users } of linked.values()) {
        const licenses = trace.gccRuntime ? [GCC_RUNTIME] : sortedUnique(trace.licenses.map((l) => l.name));
        // Every part linked in has a licence, or the notices could miss one.
        if (licenses.length === 0) fail(`${trace.base}(${trace.member}): no licence found for it in ${trace.pkg.copyright.file}`);
        const key = [trace.library, trace.certain, trace.sources.join(' '), trace.why || '', users.join(' ')].join('\0');
        const row = rows.get(key) || { trace, users, licenses, members: [] };
        row.members.push(trace.member);
        rows.set(key, row);
        for (const l of trace.licenses) {
            if (l.policy.needs !== 'notice') continue;
            const group = groups.get(l.name) || { text: licenseText(trace.pkg.copyright, l.paragraph, l.name), copyrights: new Set(), sources: new Set(), possible: new Map(), pkg: trace.pkg };
            l.paragraph.copyright.forEach((c) => group.copyrights.add(c));
            if (trace.certain) group.sources.add(l.source);
            else {
                const key = `${trace.why} in ${trace.base}, which could come from`;
                group.possible.set(key, sortedUnique([...(group.possible.get(key) || []), l.source]));
            }
            groups.set(l.name, group);
        }
    }
    const ordered = [...rows.values()].sort((a, b) => byText(a.trace.library, b.trace.library) || byText(a.trace.sources.join(' '), b.trace.sources.join(' ')) || byText(a.users.join(' '), b.users.join(' ')));
    const uncertain = ordered.some((row) => !row.trace.certain);

    const exes = programs.map((p) => `${p}.exe`).join(' and ');
    const out = [];
    out.push(`Third-party notices for ${options.name} ${options.version}`, '');
    out.push(wrap(`${exes} are ${options.name}'s own code (see LICENSE), linked statically with parts of the toolchain's runtime: the MinGW-w64 runtime and GCC's runtime libraries. Those parts were read from the linker's map of each program and traced, through the source file each was built from, to the Debian copyright file of the package that ships it. This file gives the notices their licences ask to travel with a binary, grouped by licence, as those copyright files state them.`));
    out.push('', wrap(`Parts of GCC's runtime (libgcc, libssp, libstdc++, crtbegin.o, crtend.o) are under the GNU General Public License version 3 or later with the GCC Runtime Library Exception 3.1 (${GCC_RUNTIME}), which asks for no notice. Parts in the public domain, or under terms that ask for none, are listed below without one.`));
    if (uncertain) {
        out.push('', wrap(`Some parts do not name their source file (import stubs, which dlltool makes from a module-definition file, or members without debug information): for those, the notices of every file they could come from are given.`));
    }
    out.push('', '', 'Linked parts', '============');
    let lastLibrary = null;
    for (const row of ordered) {
        const { trace } = row;
        if (trace.library !== lastLibrary) {
            out.push('', `${trace.library} (Debian package ${trace.pkg.name} ${trace.pkg.version})`);
            lastLibrary = trace.library;
        }
        const members = row.members.sort(byText).join(' ');
        let what;
        if (trace.gccRuntime) what = `${members}:`;
        else if (trace.certain) what = `${members} from ${trace.sources.join(', ')}:`;
        else what = `${members} (${trace.why.replace(/,$/, '')}; could come from ${trace.sources.join(', ')}):`;
        out.push(`  ${wrap(`${what} ${row.licenses.join(', ')}; in ${row.users.join(', ')}`, '    ')}`);
    }
    out.push('', '', 'Notices', '=======');
    for (const name of [...groups.keys()].sort(byText)) {
        const group = groups.get(name);
        out.push('', `License: ${name}`, '-'.repeat(9 + name.length), '');
        const possible = [...group.possible.keys()].sort(byText).map((key) => `${key} ${group.possible.get(key).join(', ')}`);
        out.push('Applies to:', ...[...[...group.sources].sort(byText), ...possible].map((line) => `  ${wrap(line, '    ')}`));
        out.push('Copyright:', ...[...group.copyrights].sort(byText).map((c) => `  ${c}`));
        out.push(`As stated in ${group.pkg.copyright.file}:`, '', group.text);
    }
    fs.writeFileSync(options.notices, out.join('\n') + '\n');
}

// ------------------------------------------------------------ the SBOM

function purl(pkg) {
    return `pkg:deb/debian/${pkg.name}@${encodeURIComponent(pkg.version)}?arch=${pkg.arch}`;
}
function sha256(file) {
    return crypto.createHash('sha256').update(fs.readFileSync(file)).digest('hex');
}
function readCache(buildDir, key) {
    const m = new RegExp(`^${key}:[A-Z]+=(.*)$`, 'm').exec(fs.readFileSync(path.join(buildDir, 'CMakeCache.txt'), 'utf8'));
    return m ? m[1] : null;
}

// A name-based (version 5) UUID of the document without its serial number:
// the same content always gets the same serial number.
const SERIAL_NAMESPACE = '6ba7b811-9dad-11d1-80b4-00c04fd430c8'; // RFC 4122's URL namespace
function contentSerial(bom) {
    const content = JSON.stringify({ ...bom, serialNumber: undefined });
    const hash = crypto.createHash('sha1').update(Buffer.from(SERIAL_NAMESPACE.replace(/-/g, ''), 'hex')).update(content).digest();
    hash[6] = (hash[6] & 0x0f) | 0x50;
    hash[8] = (hash[8] & 0x3f) | 0x80;
    const hex = hash.subarray(0, 16).toString('hex');
    return `urn:uuid:${hex.slice(0, 8)}-${hex.slice(8, 12)}-${hex.slice(12, 16)}-${hex.slice(16, 20)}-${hex.slice(20)}`;
}

function isoTime(epoch) {
    return new Date(Number(epoch) * 1000).toISOString().replace(/\.000Z$/, 'Z');
}

function writeSbom(options, programs, tracesByProgram) {
    const productRef = `${options.name}@${options.version}`;
    const libraries = new Map();
    const dependencies = [];
    const programComponents = programs.map((program) => {
        const exe = path.join(options.programs, `${program}.exe`);
        if (!fs.existsSync(exe)) fail(`no program ${exe}`);
        const ref = `${program}.exe`;
        const uses = new Set();
        for (const trace of tracesByProgram.get(program)) {
            const libRef = `${trace.pkg.name}:${trace.base}`;
            uses.add(libRef);
            const lib = libraries.get(libRef) || { trace, sources: new Set(), licenses: new Set() };
            trace.sources.forEach((s) => lib.sources.add(s));
            if (trace.gccRuntime) lib.licenses.add(GCC_RUNTIME);
            trace.licenses.forEach((l) => lib.licenses.add(l.policy.spdx));
            libraries.set(libRef, lib);
        }
        dependencies.push({ ref, dependsOn: [...uses].sort(byText) });
        return {
            type: 'application',
            'bom-ref': ref,
            name: ref,
            version: options.version,
            description: `${program}, statically linked for 64-bit Windows`,
            hashes: [{ alg: 'SHA-256', content: sha256(exe) }],
            licenses: [{ expression: 'MIT' }],
        };
    });
    const libraryComponents = [...libraries.keys()].sort(byText).map((ref) => {
        const { trace, sources, licenses } = libraries.get(ref);
        // A part linked in whose licence nothing names must stop the release.
        if (licenses.size === 0) fail(`${trace.base}: no licence found for what the programs take from it`);
        dependencies.push({ ref, dependsOn: [] });
        const properties = [{ name: 'hwpurge:debian-package', value: trace.pkg.name }];
        [...sources].sort(byText).forEach((s) => properties.push({ name: 'hwpurge:linked-source', value: s }));
        return {
            type: 'library',
            'bom-ref': ref,
            name: trace.base,
            version: trace.pkg.version,
            description: `${trace.library}, linked in statically, from the Debian package ${trace.pkg.name} (source ${trace.pkg.source})`,
            hashes: [{ alg: 'SHA-256', content: sha256(trace.library) }],
            licenses: [{ expression: [...licenses].sort(byText).join(' AND ') }],
            purl: purl(trace.pkg),
            properties,
        };
    });
    dependencies.unshift({ ref: productRef, dependsOn: programs.map((p) => `${p}.exe`) });

    const toolFiles = ['CMAKE_CXX_COMPILER', 'CMAKE_LINKER', 'CMAKE_RC_COMPILER', 'CMAKE_COMMAND'].map((key) => readCache(options.build, key)).filter(Boolean);
    const tools = new Map();
    for (const file of [...toolFiles, ...options.tool]) {
        const pkg = toolPackage(file);
        if (pkg) tools.set(pkg.name, { type: 'application', name: pkg.name, version: pkg.version, purl: purl(pkg) });
        else {
            // A tool installed otherwise than by dpkg: its name and what it says its version is.
            const version = /\d+(\.\d+)+/.exec(run(file, ['--version']));
            tools.set(path.basename(file), { type: 'application', name: path.basename(file), ...(version && { version: version[0] }) });
        }
    }

    const bom = {
        bomFormat: 'CycloneDX',
        specVersion: CYCLONEDX_VERSION,
        serialNumber: '',
        version: 1,
        metadata: {
            timestamp: isoTime(options.epoch),
            lifecycles: [{ phase: 'build' }],
            tools: { components: [...tools.keys()].sort(byText).map((k) => tools.get(k)) },
            component: {
                type: 'application',
                'bom-ref': productRef,
                name: options.name,
                version: options.version,
                description: `${options.name}-${options.version}-win64.zip: ${programs.map((p) => `${p}.exe`).join(', ')} for 64-bit Windows`,
                licenses: [{ expression: 'MIT' }],
                properties: [{ name: 'hwpurge:source-commit', value: options.commit }],
            },
        },
        components: [...programComponents, ...libraryComponents],
        dependencies,
    };
    bom.serialNumber = contentSerial(bom);
    fs.writeFileSync(options.sbom, JSON.stringify(bom, null, 2) + '\n');
}

// ------------------------------------------------------------ the check

// Each identifier of an SPDX expression: on the SPDX list (licences and
// exceptions) or a LicenseRef-.
function expressionIds(expression) {
    return expression.split(/[\s()]+/).filter((t) => t && !/^(AND|OR|WITH)$/.test(t));
}

async function check(options) {
    const problems = [];
    const text = fs.readFileSync(options.sbom, 'utf8');
    const CDX = require('@cyclonedx/cyclonedx-library');
    // The format version the SBOM is written in, as the library names it: "1.6".
    const validator = new CDX.Validation.JsonStrictValidator(CYCLONEDX_VERSION);
    const errors = await validator.validate(text);
    if (errors) problems.push(`not a valid CycloneDX 1.6 document:\n${JSON.stringify(errors, null, 2)}`);
    const bom = JSON.parse(text);
    const components = [bom.metadata?.component, ...(bom.components || [])].filter(Boolean);
    for (const component of components) {
        if (component.type === 'library' && !(component.licenses || []).some((l) => (l.expression || l.license?.id || '').trim())) {
            problems.push(`${component.name}: no licence`);
        }
        for (const license of component.licenses || []) {
            for (const id of expressionIds(license.expression || license.license?.id || '')) {
                if (!CDX.SPDX.isSupportedSpdxId(id) && !/^LicenseRef-[A-Za-z0-9.-]+$/.test(id)) problems.push(`${component.name}: '${id}' is no SPDX identifier`);
            }
        }
    }
    const product = bom.metadata?.component || {};
    if (product.version !== options.version) problems.push(`the product's version is ${product.version}, not ${options.version}`);
    const commit = (product.properties || []).find((p) => p.name === 'hwpurge:source-commit');
    if (!commit || commit.value !== options.commit) problems.push(`the source commit is ${commit && commit.value}, not ${options.commit}`);
    if (bom.metadata?.timestamp !== isoTime(options.epoch)) problems.push(`the time is ${bom.metadata?.timestamp}, not SOURCE_DATE_EPOCH's ${isoTime(options.epoch)}`);
    if (bom.serialNumber !== contentSerial(bom)) problems.push(`the serial number ${bom.serialNumber} is not the one its content gives, ${contentSerial(bom)}`);
    const shipped = fs.readdirSync(options.programs).filter((f) => f.endsWith('.exe')).sort(byText);
    const listed = (bom.components || []).filter((c) => c.type === 'application').map((c) => c.name).sort(byText);
    if (JSON.stringify(shipped) !== JSON.stringify(listed)) problems.push(`the SBOM lists the programs [${listed}], the zip holds [${shipped}]`);
    for (const component of (bom.components || []).filter((c) => c.type === 'application')) {
        const exe = path.join(options.programs, component.name);
        const hash = (component.hashes || []).find((h) => h.alg === 'SHA-256');
        if (fs.existsSync(exe) && (!hash || hash.content !== sha256(exe))) problems.push(`${component.name}: SHA-256 ${hash && hash.content} in the SBOM, ${sha256(exe)} in the zip`);
    }
    if (!(bom.components || []).some((c) => c.type === 'library')) problems.push('the SBOM lists no runtime library');
    if (problems.length) fail(`${options.sbom}:\n  ${problems.join('\n  ')}`);
    console.log(`release-inventory: ${path.basename(options.sbom)} is valid CycloneDX 1.6 and matches ${listed.join(', ')}`);
}

// ------------------------------------------------------------ the command line

function parseArguments(argv) {
    const options = { tool: [], programsList: [] };
    for (let i = 0; i < argv.length; i++) {
        const m = /^--([a-z]+)$/.exec(argv[i]);
        if (!m) options.programsList.push(argv[i]);
        else if (i + 1 >= argv.length) fail(`${argv[i]} needs a value`);
        else if (m[1] === 'tool') options.tool.push(argv[++i]);
        else options[m[1]] = argv[++i];
    }
    return options;
}

function main() {
    const [command, ...rest] = process.argv.slice(2);
    const options = parseArguments(rest);
    const need = (keys) => keys.forEach((k) => options[k] || fail(`${command} needs --${k}`));
    if (command === 'write') {
        need(['build', 'programs', 'name', 'version', 'commit', 'epoch', 'notices', 'sbom']);
        if (options.programsList.length === 0) fail('write needs the programs');
        const programs = options.programsList;
        const traces = new Map(programs.map((p) => [p, traceProgram(options.build, p)]));
        writeNotices(options, programs, traces);
        writeSbom(options, programs, traces);
    } else if (command === 'check') {
        need(['sbom', 'programs', 'version', 'commit', 'epoch']);
        check(options).catch((e) => fail(e.stack || String(e)));
    } else {
        fail('usage: release-inventory.js write|check --option value ...');
    }
}

main();
