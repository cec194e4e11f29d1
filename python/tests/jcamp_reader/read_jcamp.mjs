// Reads a JCAMP-DX file with the npm package jcampconverter, an independent
// reader, and prints what it found as JSON: the first block's type, version,
// title and labels, and its x and y values.
// Usage: node read_jcamp.mjs FILE.jdx  (from the folder npm installed into)
import { readFileSync } from 'node:fs';
import { convert } from 'jcampconverter';

const result = convert(readFileSync(process.argv[2], 'utf8'), { keepRecordsRegExp: /.*/ });
const entry = result.flatten[0];
const spectrum = entry.spectra[0];
process.stdout.write(JSON.stringify({
  dataType: entry.dataType,
  jcampDX: entry.jcampDX,
  title: entry.title,
  info: entry.info,
  xUnits: spectrum.xUnits,
  yUnits: spectrum.yUnits,
  x: Array.from(spectrum.data.x),
  y: Array.from(spectrum.data.y),
}));
