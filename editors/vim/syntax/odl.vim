" Vim syntax file
" Language: Ordalis test scripts (.odl)
" Keywords such as if and endif are lower case only ("If" is an ordinary name); function,
" return, and, true and the other words marked below may be written in any case.

if exists('b:current_syntax')
  finish
endif

syntax case match
syntax keyword odlConditional if then else endif
syntax keyword odlRepeat while do endwhile
syntax keyword odlStatement include delete result
syntax match odlNew "\<new\>\s\+\h\w*" contains=odlNewKeyword
syntax match odlNewKeyword "\<new\>" contained nextgroup=odlTesterType skipwhite
syntax match odlTesterType "\h\w*" contained

syntax case ignore
syntax keyword odlStatement return abort local default ignoreresult endignoreresult
syntax keyword odlFunctionKeyword function endfunction
syntax keyword odlOperatorWord and or not
syntax keyword odlBoolean true false
syntax keyword odlResult passed failed warning error
syntax keyword odlBuiltin movelogfile copylogfile printf sprintf sscanf strlen arraylength saveuservar sleep assert
syntax keyword odlDirectory scriptdirectory scriptdir scriptdirectorystr scriptdirstr
syntax match odlFunctionName "\%(\<function\s\+\)\@<=\h\w*"
syntax case match

syntax match odlAction "[.:]\s*\zs\h\w*\ze\s*("
syntax match odlNumber "\<\d\+\>"
syntax match odlNumber "\<0x\x\+\>"
syntax match odlNumber "&H\x\+\>"
syntax match odlNumber "&O\o\+\>"
syntax match odlFloat "[-+]\=\<\d\+\.\d*\%([eE][-+]\=\d\+\)\="
syntax match odlFloat "[-+]\=\<\d\+[eE][-+]\=\d\+\>"
syntax match odlOperator "==\|!=\|<=\|>=\|[<>=!+\-*/%^]\|&&\|||"

syntax region odlString start=+"+ skip=+\\.+ end=+"+ contains=odlEscape,odlFormat
syntax match odlEscape "\\." contained
syntax match odlFormat "%[-0]*\d*\%(\.\d\+\)\=[dioxXeEfgGcsu%]" contained
" result "label" statement: the label names a row of the results summary.
syntax match odlLabel +\%(\<result\s\+\)\@<="\%([^"\\]\|\\.\)*"+

syntax match odlComment "#.*$" contains=odlTodo
syntax keyword odlTodo TODO FIXME XXX contained

highlight default link odlConditional Conditional
highlight default link odlRepeat Repeat
highlight default link odlStatement Statement
highlight default link odlNewKeyword Statement
highlight default link odlTesterType Type
highlight default link odlFunctionKeyword Keyword
highlight default link odlFunctionName Function
highlight default link odlOperatorWord Operator
highlight default link odlOperator Operator
highlight default link odlBoolean Boolean
highlight default link odlResult Constant
highlight default link odlBuiltin Function
highlight default link odlDirectory Identifier
highlight default link odlAction Function
highlight default link odlNumber Number
highlight default link odlFloat Float
highlight default link odlString String
highlight default link odlEscape SpecialChar
highlight default link odlFormat SpecialChar
highlight default link odlLabel Label
highlight default link odlComment Comment
highlight default link odlTodo Todo

let b:current_syntax = 'odl'
