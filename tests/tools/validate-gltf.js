#!/usr/bin/env node
// Checks glTF files with the Khronos glTF validator. Usage:
//   node validate-gltf.js FILE.gltf|FILE.glb...
// Prints every issue the validator reports, one line each, then one summary
// line per file. Exit status: 0 when no file has an error or a warning,
// 1 when one has, 2 when a file cannot be read or validated.
'use strict';
const fs = require('fs');
const path = require('path');
const validator = require('gltf-validator');

const severities = ['error', 'warning', 'info', 'hint'];

async function check(file) {
  const bytes = fs.readFileSync(file);
  const report = await validator.validateBytes(new Uint8Array(bytes), {
    uri: path.basename(file),
    maxIssues: 0,
    writeTimestamp: false,
    externalResourceFunction: (uri) =>
      new Promise((resolve, reject) => {
        fs.readFile(path.resolve(path.dirname(file), decodeURIComponent(uri)), (err, data) =>
          err ? reject(err.toString()) : resolve(new Uint8Array(data)));
      }),
  });
  for (const m of report.issues.messages) {
    console.log(`${file}: ${severities[m.severity] || m.severity}: ${m.code}: ${m.message}` +
                (m.pointer ? ` (${m.pointer})` : ''));
  }
  const i = report.issues;
  console.log(`${file}: ${i.numErrors} errors, ${i.numWarnings} warnings, ${i.numInfos} infos, ${i.numHints} hints`);
  return i.numErrors === 0 && i.numWarnings === 0;
}

(async () => {
  const files = process.argv.slice(2);
  if (files.length === 0) {
    console.error('usage: validate-gltf.js FILE.gltf|FILE.glb...');
    process.exit(2);
  }
  let clean = true;
  for (const file of files) {
    try {
      if (!(await check(file))) clean = false;
    } catch (e) {
      console.error(`${file}: cannot be validated: ${e}`);
      process.exit(2);
    }
  }
  process.exit(clean ? 0 : 1);
})();
