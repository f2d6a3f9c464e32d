// Tokenises scripts with the TextMate grammar of editors/textmate through vscode-textmate and
// vscode-oniguruma, the engine VS Code uses, and checks a table of tokens and their scopes:
// the example scripts as shipped, and a fixture with every construct the grammar colours.
//
// Usage: node grammar_test.js SOURCE_DIR    (exit 0 when every row holds, 1 otherwise)
'use strict';

const fs = require('fs');
const path = require('path');

const source = process.argv[2] || path.join(__dirname, '..', '..');
let textmate;
let oniguruma;
try {
  textmate = require('vscode-textmate');
  oniguruma = require('vscode-oniguruma');
} catch (error) {
  console.error('grammar_test: the npm packages are missing; run scripts/bootstrap (' + error.message + ')');
  process.exit(1);
}

const fixture = [
  '# a comment',
  'result "Rail 5 V" x = 1',
  't = new echo(42)',
  'v = t.Echo("a\\"b", 0x1F, &HFF, 017, -1.5e3)',
  'if v[0] == 1 and not done then',
  'If x Then',
  'function Square',
  'ENDFUNCTION',
  'text = sprintf("%d V", 5)',
  't:Count()',
  'passed',
  'ok = TRUE',
  'while i < 3 do i++ endwhile',
  'x = scriptdir',
].join('\n');

// [where, line text that identifies the line, token, scope]; a scope written "!scope" must be
// absent from the token. "fixture" is the text above; other places are files below SOURCE_DIR.
const rows = [
  ['fixture', '# a comment', 'a comment', 'comment.line.number-sign.odl'],
  ['fixture', 'result "Rail', 'result', 'keyword.other.result.odl'],
  ['fixture', 'result "Rail', '"Rail 5 V"', 'entity.name.label.odl'],
  ['fixture', 't = new echo', 'new', 'keyword.other.new.odl'],
  ['fixture', 't = new echo', 'echo', 'entity.name.type.tester.odl'],
  ['fixture', 't = new echo', '42', 'constant.numeric.integer.odl'],
  ['fixture', 'v = t.Echo', 'Echo', 'entity.name.function.action.odl'],
  ['fixture', 'v = t.Echo', '\\"', 'constant.character.escape.odl'],
  ['fixture', 'v = t.Echo', '0x1F', 'constant.numeric.hex.odl'],
  ['fixture', 'v = t.Echo', '&HFF', 'constant.numeric.hex.odl'],
  ['fixture', 'v = t.Echo', '017', 'constant.numeric.octal.odl'],
  ['fixture', 'v = t.Echo', '-1.5e3', 'constant.numeric.float.odl'],
  ['fixture', 'if v[0]', 'if', 'keyword.control.odl'],
  ['fixture', 'if v[0]', '==', 'keyword.operator.comparison.odl'],
  ['fixture', 'if v[0]', 'and', 'keyword.operator.logical.odl'],
  ['fixture', 'if v[0]', 'then', 'keyword.control.odl'],
  ['fixture', 'If x Then', 'If', '!keyword.control.odl'],
  ['fixture', 'If x Then', 'Then', '!keyword.control.odl'],
  ['fixture', 'function Square', 'function', 'storage.type.function.odl'],
  ['fixture', 'function Square', 'Square', 'entity.name.function.odl'],
  ['fixture', 'ENDFUNCTION', 'ENDFUNCTION', 'storage.type.function.odl'],
  ['fixture', 'text = sprintf', 'sprintf', 'support.function.builtin.odl'],
  ['fixture', 'text = sprintf', '%d', 'constant.other.placeholder.odl'],
  ['fixture', 't:Count', 'Count', 'entity.name.function.action.odl'],
  ['fixture', 'passed', 'passed', 'constant.language.result.odl'],
  ['fixture', 'ok = TRUE', 'TRUE', 'constant.language.boolean.odl'],
  ['fixture', 'while i', 'endwhile', 'keyword.control.odl'],
  ['fixture', 'while i', '++', 'keyword.operator.increment.odl'],
  ['fixture', 'x = scriptdir', 'scriptdir', 'variable.language.odl'],
  ['examples/hello.odl', 'result "Arithmetic"', '"Arithmetic"', 'entity.name.label.odl'],
  ['examples/hello.odl', 'greeting = "Hello, "', 'Hello,', 'string.quoted.double.odl'],
  ['examples/hello.odl', 'function Square', 'Square', 'entity.name.function.odl'],
  ['examples/hello.odl', 'ratio = 2.5', '2.5', 'constant.numeric.float.odl'],
  ['examples/power_supply.odl', 'meter = new multimeter', 'multimeter', 'entity.name.type.tester.odl'],
  ['examples/power_supply.odl', 'supply.SetVoltage', 'SetVoltage', 'entity.name.function.action.odl'],
  ['examples/power_supply.odl', 'printf("Device', 'printf', 'support.function.builtin.odl'],
  ['examples/with_include.odl', 'include "lib', 'include', 'keyword.other.odl'],
  ['examples/with_include.odl', 'text = Greet', 'Greet', 'entity.name.function.call.odl'],
];

// The tokens of every line of [text]: [{line, text, scopes}].
function Tokenise(grammar, text) {
  let stack = textmate.INITIAL;
  const out = [];
  for (const line of text.split('\n')) {
    const result = grammar.tokenizeLine(line, stack);
    for (const token of result.tokens) {
      out.push({ line, text: line.substring(token.startIndex, token.endIndex), scopes: token.scopes });
    }
    stack = result.ruleStack;
  }
  return out;
}

async function Main() {
  const wasm = fs.readFileSync(require.resolve('vscode-oniguruma/release/onig.wasm'));
  await oniguruma.loadWASM(wasm.buffer.slice(wasm.byteOffset, wasm.byteOffset + wasm.byteLength));
  const registry = new textmate.Registry({
    onigLib: Promise.resolve({
      createOnigScanner: (patterns) => new oniguruma.OnigScanner(patterns),
      createOnigString: (text) => new oniguruma.OnigString(text),
    }),
    loadGrammar: async () => textmate.parseRawGrammar(
        fs.readFileSync(path.join(source, 'editors/textmate/odl.tmLanguage.json'), 'utf8'),
        'odl.tmLanguage.json'),
  });
  const grammar = await registry.loadGrammar('source.odl');
  const texts = { fixture };
  let failures = 0;
  for (const [where, line_start, token, scope] of rows) {
    if (!(where in texts)) texts[where] = fs.readFileSync(path.join(source, where), 'utf8');
    const tokens = Tokenise(grammar, texts[where]).filter((t) => t.line.trimStart().startsWith(line_start));
    const found = tokens.find((t) => t.text.trim() === token) ||
                  tokens.find((t) => t.text.split(/\s+/).includes(token));
    const absent = scope.startsWith('!');
    const wanted = absent ? scope.slice(1) : scope;
    const holds = found !== undefined && found.scopes.includes(wanted) !== absent;
    if (!holds) {
      ++failures;
      const seen = found ? found.scopes.join(' ') : 'no such token in ' +
          JSON.stringify(tokens.map((t) => t.text));
      console.error(`FAIL ${where}: '${token}' on the line '${line_start}...' should ${absent ? 'not ' : ''}have ${wanted}; it has ${seen}`);
    }
  }
  console.log(`${rows.length - failures} of ${rows.length} rows hold`);
  process.exit(failures === 0 ? 0 : 1);
}

Main().catch((error) => {
  console.error('grammar_test: ' + (error.stack || error));
  process.exit(1);
});
