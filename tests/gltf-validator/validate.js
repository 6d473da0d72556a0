// Validates one .glb or .gltf with the Khronos glTF-Validator and prints its report's issue
// counts and messages as JSON: {"errors": N, "warnings": N, "infos": N, "messages": [...]}.
// Usage: node validate.js FILE
'use strict';
const fs = require('fs');
const path = require('path');
const validator = require('gltf-validator');

const file = process.argv[2];
const folder = path.dirname(file);
validator
  .validateBytes(new Uint8Array(fs.readFileSync(file)), {
    uri: path.basename(file),
    maxIssues: 0,
    externalResourceFunction: (uri) =>
      new Promise((resolve, reject) => {
        fs.readFile(path.join(folder, decodeURIComponent(uri)), (error, data) => {
          if (error) reject(error.toString());
          else resolve(new Uint8Array(data));
        });
      }),
  })
  .then((report) => {
    const issues = report.issues;
    console.log(JSON.stringify({
      errors: issues.numErrors,
      warnings: issues.numWarnings,
      infos: issues.numInfos,
      messages: issues.messages.map((m) => `${m.severity} ${m.code} ${m.pointer || ''} ${m.message}`),
    }));
  })
  .catch((error) => {
    console.log(JSON.stringify({ errors: 1, warnings: 0, infos: 0, messages: [String(error)] }));
  });
