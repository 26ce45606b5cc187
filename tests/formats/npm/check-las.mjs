// Reads a LAS file with loaders.gl and compares its points with a CSV file of the same points
// (columns x, y, z, amplitude): prints the count and exits 1 on the first difference.
// Usage: node check-las.mjs FILE.las FILE.csv
import {readFileSync} from 'node:fs';
import {dirname, join} from 'node:path';
import {pathToFileURL} from 'node:url';
import {createRequire} from 'node:module';
import {parse} from '@loaders.gl/core';
import {LAZRsLoader} from '@loaders.gl/las';

// The LAS 1.4 reader decodes through WebAssembly that it would fetch from a file: URL, which
// Node's fetch does not read; it is handed over as bytes instead.
const require = createRequire(import.meta.url);
const root = dirname(dirname(require.resolve('@loaders.gl/las')));
const wasmDir = join(root, 'dist', 'libs', 'laz-rs-wasm');
const {initSync} = await import(pathToFileURL(join(wasmDir, 'laz_rs_wasm.js')));
initSync({module: readFileSync(join(wasmDir, 'laz_rs_wasm_bg.wasm'))});

const [lasPath, csvPath] = process.argv.slice(2);
const las = await parse(readFileSync(lasPath), LAZRsLoader, {las: {fp64: true}, worker: false});
const rows = readFileSync(csvPath, 'utf8').trim().split('\n');
const names = rows.shift().split(',');
const column = (name) => names.indexOf(name);
const [cx, cy, cz, ci] = ['x', 'y', 'z', 'amplitude'].map(column);

const fail = (message) => {
  console.error(`${lasPath}: ${message}`);
  process.exit(1);
};
const count = las.header.vertexCount;
if (count !== rows.length) fail(`${count} points, the CSV file has ${rows.length}`);
const position = las.attributes.POSITION.value;
const intensity = las.attributes.intensity.value;
for (let i = 0; i < count; ++i) {
  const v = rows[i].split(',').map(Number);
  for (const [k, c] of [[0, cx], [1, cy], [2, cz]]) {
    if (Math.abs(position[3 * i + k] - v[c]) > 1e-5) {
      fail(`point ${i}: coordinate ${k} is ${position[3 * i + k]}, not ${v[c]}`);
    }
  }
  if (intensity[i] !== Math.trunc(v[ci])) fail(`point ${i}: intensity ${intensity[i]}, not ${v[ci]}`);
}
console.log(`${lasPath}: ${count} points match`);
