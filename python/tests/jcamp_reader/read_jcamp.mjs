// Reads a JCAMP-DX file with the npm package jcampconverter, an independent
// reader, and prints what it found as JSON: the first block's type, version,
// title, labels and user-defined labels ($), its x and y values, and the reader's diagnostics (its
// checks of the X checkpoints and of the Y check values, and every warning
// or error), which a well-formed file leaves empty.
// Usage: node read_jcamp.mjs FILE.jdx  (from the folder npm installed into)
import { readFileSync } from 'node:fs';
import { convert } from 'jcampconverter';

const diagnostics = [];
// The reader's own progress and timing lines carry no finding.
const finding = (level) => (...items) => {
  const text = items.find((item) => typeof item === 'string');
  const profiling = items.some((item) => typeof item === 'object' && item && item.profiling);
  if (text !== undefined && !profiling) diagnostics.push(`${level}: ${text}`);
};
const logger = {
  trace: finding('trace'),
  debug: () => {},
  info: finding('info'),
  warn: finding('warn'),
  error: finding('error'),
};

const result = convert(readFileSync(process.argv[2], 'utf8'), { keepRecordsRegExp: /.*/, logger });
const entry = result.flatten[0];
const spectrum = entry.spectra[0];
process.stdout.write(JSON.stringify({
  dataType: entry.dataType,
  jcampDX: entry.jcampDX,
  title: entry.title,
  info: entry.info,
  meta: entry.meta,
  xUnits: spectrum.xUnits,
  yUnits: spectrum.yUnits,
  x: Array.from(spectrum.data.x),
  y: Array.from(spectrum.data.y),
  diagnostics,
}));
