#!/usr/bin/env bash
# Builds the WebAssembly library into OUT, checks that it stays small, and runs the
# JavaScript module's tests under Node against PROGRAM (the native quodrel, whose -c
# gives the archives to match). Exits 77 (skipped) where the wasm32 libraries or Node
# are missing. Usage: web/check.sh OUT PROGRAM
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd) program=$2
if ! command -v node >/dev/null || ! ls -d /usr/lib/llvm-*/lib/wasm32-wasi >/dev/null 2>&1; then
    echo "Node or the wasm32-wasi libraries are missing (scripts/deps.sh web)"
    exit 77
fi
"$root/web/build.sh" "$out"
size=$(stat -c %s "$out/quodrel.wasm")
if [ "$size" -gt 307200 ]; then
    echo "quodrel.wasm is $size bytes, more than 300 KB"
    exit 1
fi
QUODREL_WASM="$out/quodrel.wasm" QUODREL_PROGRAM="$program" node --test "$root/web/test/"

# The package npm packs installs into a project, offline, and works there as imported.
# npm keeps its cache and its logs in the build, not in the user's home.
export npm_config_cache="$out/npm-cache" npm_config_update_notifier=false
rm -rf "$out/consumer" "$out"/quodrel-*.tgz "$out/npm-cache"
(cd "$out/package" && npm pack --silent --pack-destination "$out" >/dev/null)
mkdir -p "$out/consumer"
cd "$out/consumer"
echo '{ "name": "consumer", "version": "1.0.0", "private": true, "type": "module" }' >package.json
npm install --offline --no-audit --no-fund --silent "$out"/quodrel-*.tgz
node --input-type=module -e '
import { load } from "quodrel";
const quodrel = await load();
const made = quodrel.create([{ path: "a/b.txt", data: new TextEncoder().encode("packed") }]);
const archive = quodrel.open(made.bytes);
const read = new TextDecoder().decode(archive.read("a/b.txt"));
if (!made.complete || read !== "packed" || archive.entries.length !== 2) process.exit(1);
console.log("the installed package packs and reads");
'
# The installed package: its README, its version the library's (quodrel.h), and no
# script that needs a file it lacks.
node --input-type=module -e '
import fs from "node:fs";
import { load } from "quodrel";
const at = "node_modules/quodrel/";
const manifest = JSON.parse(fs.readFileSync(at + "package.json", "utf8"));
const shipped = new Set(fs.readdirSync(at));
const faults = [];
if (!shipped.has("README.md")) faults.push("no README.md");
const n = (await load()).version;
const library = `${Math.floor(n / 10000)}.${Math.floor(n / 100) % 100}.${n % 100}`;
if (manifest.version !== library) faults.push(`version ${manifest.version}, library ${library}`);
for (const [name, script] of Object.entries(manifest.scripts ?? {}))
  for (const file of script.match(/[\w.-]+\.(?:m?js|wasm|ts|json)\b|\btest\//g) ?? [])
    if (!shipped.has(file.replace(/\/$/, ""))) faults.push(`script ${name} needs ${file}`);
if (faults.length) { console.log(faults.join("\n")); process.exit(1); }
console.log("the package ships its README, version", manifest.version);
'
# Its types, in a strict TypeScript project that names no DOM or Node type: `using`
# closes an archive, misuse is refused.
tsc=$("$root/web/tools/install.sh" "$out")/node_modules/.bin/tsc
cp "$root/web/test/consumer.ts" .
for lib in '"es2022", "esnext.disposable"' '"es2022"'; do
    file=consumer.ts
    [[ $lib == *disposable* ]] || file=node_modules/quodrel/quodrel.d.ts
    cat >tsconfig.json <<EOF
{ "compilerOptions": { "strict": true, "noEmit": true, "target": "es2022", "module": "nodenext",
  "moduleResolution": "nodenext", "lib": [$lib], "types": [] }, "files": ["$file"] }
EOF
    "$tsc" -p .
done
echo "the types compile, with and without Symbol.dispose in the language"

