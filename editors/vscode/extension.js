// The Ordalis extension: starts `ordalis lsp` for .odl documents and runs scripts under
// `ordalis dap`. Plain JavaScript, so `npm install` is the only step before use.
'use strict';
const vscode = require('vscode');
const { LanguageClient } = require('vscode-languageclient/node');

let client;

function ordalisPath() {
  return vscode.workspace.getConfiguration('ordalis').get('path') || 'ordalis';
}

function activate(context) {
  client = new LanguageClient('ordalis', 'Ordalis',
      { command: ordalisPath(), args: ['lsp'] },
      { documentSelector: [{ scheme: 'file', language: 'odl' }] });
  client.start();
  context.subscriptions.push(vscode.debug.registerDebugAdapterDescriptorFactory('ordalis', {
    createDebugAdapterDescriptor: () => new vscode.DebugAdapterExecutable(ordalisPath(), ['dap']),
  }));
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate };
