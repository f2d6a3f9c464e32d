" Vim compiler file for Ordalis test scripts: ':compiler ordalis', then ':make %' checks the
" current script without running it and fills the quickfix list with what 'ordalis check'
" finds, each at its line and column.
if exists("current_compiler")
  finish
endif
let current_compiler = "ordalis"

if exists(":CompilerSet") != 2
  command -nargs=* CompilerSet setlocal <args>
endif

CompilerSet makeprg=ordalis\ check\ --format\ gcc
" file:line:column: error|warning: text, the column counted in bytes as Vim counts it; lines
" without a column are read as well; anything else (messages of the command) is left out.
CompilerSet errorformat=%f:%l:%c:\ %trror:\ %m,%f:%l:%c:\ %tarning:\ %m,%f:%l:\ %trror:\ %m,%f:%l:\ %tarning:\ %m,%-G%.%#
