" Ordalis test scripts. Vim's own detection takes *.odl for Microsoft ODL (msidl); this runs
" after it and overrides it.
autocmd BufRead,BufNewFile *.odl set filetype=odl
