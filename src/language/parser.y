/* The grammar of the script language. Each action hands the recognised construct to the tree
   builder of the parse, which makes the items and hangs them into the tree. Statement lists are
   left-recursive, so a long script never deepens the parser stack; only nesting does. */

%require "3.8"
%define api.pure full
%define api.prefix {odl}
%define api.token.prefix {TOK_}
%define api.value.type {ordalis::TokenValue}
%define parse.error simple
%token-table
%param {yyscan_t scanner}
%parse-param {ordalis::LexicalAnalyser& lexer}

/* The analyser reads where the parser keeps its look-ahead token, to stamp items with the
   line of the last token taken. */
%initial-action { lexer.WatchLookAhead(&yychar, TOK_ODLEMPTY); }

%code requires {
#include "language/token_value.h"
namespace ordalis { class LexicalAnalyser; }
typedef void* yyscan_t;
#define ODLSTYPE_IS_TRIVIAL 1
}

%code {
#include "language/lexical_analyser.h"
#include "language/syntax_explanation.h"

#define YYINITDEPTH 200
#define YYMAXDEPTH 10000

int odllex(ODLSTYPE* yylval, yyscan_t scanner);

// Every token passes the analyser on its way to the parser, so it knows the last two tokens
// read and their lines; names, strings and comments bring their kept text.
#undef yylex
#define yylex(value, scanner) ReadToken(lexer, value, scanner)
static inline int ReadToken(ordalis::LexicalAnalyser& lexer, ODLSTYPE* value, yyscan_t scanner) {
  int token = odllex(value, scanner);
  bool has_text = token == TOK_IDENTIFIER || token == TOK_STRING || token == TOK_COMMENT;
  lexer.TokenRead(token, has_text ? value->text : std::string_view());
  value->column = lexer.current_token().column;
  return token;
}

namespace {
// Explains the syntax error the parser met in [state] with the look-ahead [token], from the
// error rule, before the error items of the recovery are made.
void ExplainSyntaxError(int state, int token, ordalis::LexicalAnalyser& lexer);
}
// Syntax errors become error items through the error rule; nothing is printed. Where the parser
// meets one it only notes its state, which the error rule explains: doing the work here, in
// the middle of the parser's loop, would slow every parse.
#define odlerror(scanner, lexer, message) lexer.NoteSyntaxError(*yyssp, yytoken)

#define B lexer.builder()
// Ends the parse when an expression has grown too tall; the driver reports it.
#define STOP_WHEN_TOO_DEEP \
  if (B.too_deep()) YYABORT
}

%token ABORT AND OR NOT RETURN OCTAL INTEGER HEX DOUBLE BOOL FUNCTION ENDFUNCTION
%token IGNORERESULT ENDIGNORERESULT MOVELOGFILE COPYLOGFILE COMMENT
%token LT LE EQ GE GT NE DEC INC
%token RESULT INCLUDE IF THEN ELSE ENDIF WHILE DO ENDWHILE NEW DELETE
%token STRING LOCAL RESULTVALUE DEFAULT IDENTIFIER STRAYCHAR

%left OR
%left AND
%left LT LE EQ GE GT NE
%left '+' '-'
%left '*' '/' '%' '^'
%precedence NOT

%%

script
  : statements
  ;

statements
  : %empty
  | statements statement                  { B.EndStatement(); }
  ;

statement
  : COMMENT                               { B.Comment($1.text); }
  | assignment
  | DEFAULT                               { B.BeginDefault(); STOP_WHEN_TOO_DEEP; }
    assignment                            { B.EndDefault(); }
  | error                                 {
                                            /* The error item stands on the line of the token
                                               it names; at the end of input, on the line of
                                               the last token. */
                                            int state = 0;
                                            int token = 0;
                                            if (lexer.TakeSyntaxError(&state, &token)) ExplainSyntaxError(state, token, lexer);
                                            bool at_end = yychar == TOK_YYEOF;
                                            const auto& place = at_end ? lexer.previous_token() : lexer.current_token();
                                            B.Error(at_end ? nullptr : lexer.token_text(), place.line, place.column);
                                            if (!at_end) yyclearin;
                                          }
  | DELETE IDENTIFIER                     { B.Delete($2.text); }
  | IF expression THEN                    { B.BeginIf(); STOP_WHEN_TOO_DEEP; }
    statements if_end
  | WHILE expression DO                   { B.BeginWhile(); STOP_WHEN_TOO_DEEP; }
    statements ENDWHILE                   { B.EndWhile(); }
  | variable INC                          { B.Increment(ordalis::incrementItem, "++"); }
  | variable DEC                          { B.Increment(ordalis::decrementItem, "--"); }
  | action_call
  | INCLUDE STRING                        { B.Include(lexer.directory_text(), $2.text); }
  | RESULT                                { B.BeginResult(""); STOP_WHEN_TOO_DEEP; }
    statement                             { B.EndResult(); }
  | RESULT STRING                         { B.BeginResult($2.text); STOP_WHEN_TOO_DEEP; }
    statement                             { B.EndResult(); }
  | FUNCTION IDENTIFIER                   { B.BeginBlock(ordalis::functionItem, $2.text); STOP_WHEN_TOO_DEEP; }
    statements ENDFUNCTION                { B.EndBlock(); }
  | IDENTIFIER call_arguments             { B.StatementCall($1.text, false, $1.column); }
  | IDENTIFIER call_arguments ':'         { B.StatementCall($1.text, true, $1.column); }
  | RESULTVALUE                           { B.TestResult($1.integer); }
  | ABORT '(' STRING ')'                  { B.Abort($3.text); }
  | MOVELOGFILE '(' STRING ')'            { B.LogFile(ordalis::moveLogFileItem, "movelogfile", true, $3.text); }
  | MOVELOGFILE '(' variable ')'          { B.LogFile(ordalis::moveLogFileItem, "movelogfile", false, {}); }
  | COPYLOGFILE '(' STRING ')'            { B.LogFile(ordalis::copyLogFileItem, "copylogfile", true, $3.text); }
  | COPYLOGFILE '(' variable ')'          { B.LogFile(ordalis::copyLogFileItem, "copylogfile", false, {}); }
  | RETURN values                         { B.Return(); }
  | LOCAL                                 { B.BeginLocal(); STOP_WHEN_TOO_DEEP; }
    statement                             { B.EndLocal(); }
  | IGNORERESULT                          { B.BeginBlock(ordalis::ignoreResultItem, "ignoreresult"); STOP_WHEN_TOO_DEEP; }
    statements ENDIGNORERESULT            { B.EndBlock(); }
  ;

if_end
  : ENDIF                                 { B.EndIf(); }
  | ELSE                                  { B.Else(); }
    statements ENDIF                      { B.EndIf(); }
  ;

assignment
  : IDENTIFIER '='                        { B.BeginAssignment($1.text); STOP_WHEN_TOO_DEEP; }
    assigned                              { B.EndAssignment(); }
  ;

assigned
  : NEW IDENTIFIER call_arguments         { B.NewObject($2.text); }
  | values
  ;

values
  : value
  | values ',' value
  ;

value
  : expression
  | '['                                   { B.BeginArray(); STOP_WHEN_TOO_DEEP; }
    optional_values ']'                   { B.EndArray(); }
  ;

optional_values
  : %empty
  | values
  ;

call_arguments
  : '(' ')'
  | '(' values ')'
  ;

name
  : IDENTIFIER                            { B.Identifier($1.text); }
  ;

variable
  : name
  | name '['                              { B.BeginIndex(); STOP_WHEN_TOO_DEEP; }
    expression ']' more_indexes           { B.EndIndex(); }
  ;

more_indexes
  : %empty
  | more_indexes '[' expression ']'
  ;

action_call
  : variable method_call
  | action_call method_call
  ;

method_call
  : '.' IDENTIFIER                        { B.BeginMethod(".", $2.text); STOP_WHEN_TOO_DEEP; }
    call_arguments                        { B.EndMethod(); }
  | ':' IDENTIFIER                        { B.BeginMethod(":", $2.text); STOP_WHEN_TOO_DEEP; }
    call_arguments                        { B.EndMethod(); }
  ;

strings
  : STRING                                { $$ = $1; }
  | strings STRING                        {
                                            std::string joined($1.text);
                                            joined.append($2.text);
                                            $$.text = lexer.Keep(joined);
                                          }
  ;

quiet_mark
  : %empty                                { $$.integer = 0; }
  | ':'                                   { $$.integer = 1; }
  ;

expression
  : INTEGER                               { B.Integer($1.integer); }
  | '+' INTEGER                           { B.Integer($2.integer); }
  | '-' INTEGER                           { B.Integer(static_cast<std::int32_t>(0u - static_cast<std::uint32_t>($2.integer))); }
  | HEX                                   { B.Value(ordalis::hexItem, std::to_string($1.integer)); }
  | OCTAL                                 { B.Value(ordalis::octalItem, std::to_string($1.integer)); }
  | DOUBLE                                { B.Double($1.number); }
  | variable
  | expression '-' expression             { B.Binary(ordalis::arithmeticItem, "-"); STOP_WHEN_TOO_DEEP; }
  | expression '+' expression             { B.Binary(ordalis::arithmeticItem, "+"); STOP_WHEN_TOO_DEEP; }
  | expression '*' expression             { B.Binary(ordalis::arithmeticItem, "*"); STOP_WHEN_TOO_DEEP; }
  | expression '/' expression             { B.Binary(ordalis::arithmeticItem, "/"); STOP_WHEN_TOO_DEEP; }
  | expression '%' expression             { B.Binary(ordalis::arithmeticItem, "%"); STOP_WHEN_TOO_DEEP; }
  | expression '^' expression             { B.Binary(ordalis::arithmeticItem, "^"); STOP_WHEN_TOO_DEEP; }
  | '(' expression ')'
  | BOOL                                  { B.Value(ordalis::boolItem, $1.integer ? "true" : "false"); }
  | IDENTIFIER '('                        { B.BeginExpressionCall($1.text, $1.column); STOP_WHEN_TOO_DEEP; }
    optional_values ')' quiet_mark        { B.EndExpressionCall($6.integer != 0); }
  | RESULTVALUE                           { B.TestResult($1.integer); }
  | action_call
  | strings                               { B.Value(ordalis::stringItem, std::string($1.text)); }
  | expression AND expression             { B.Binary(ordalis::andItem, "and"); STOP_WHEN_TOO_DEEP; }
  | expression OR expression              { B.Binary(ordalis::orItem, "or"); STOP_WHEN_TOO_DEEP; }
  | NOT expression                        { B.Not(); STOP_WHEN_TOO_DEEP; }
  | expression LT expression              { B.Binary(ordalis::lessThanItem, "<"); STOP_WHEN_TOO_DEEP; }
  | expression LE expression              { B.Binary(ordalis::lessThanOrEqualItem, "<="); STOP_WHEN_TOO_DEEP; }
  | expression EQ expression              { B.Binary(ordalis::equalItem, "=="); STOP_WHEN_TOO_DEEP; }
  | expression GE expression              { B.Binary(ordalis::greaterThanOrEqualItem, ">="); STOP_WHEN_TOO_DEEP; }
  | expression GT expression              { B.Binary(ordalis::greaterThanItem, ">"); STOP_WHEN_TOO_DEEP; }
  | expression NE expression              { B.Binary(ordalis::notEqualItem, "!="); STOP_WHEN_TOO_DEEP; }
  ;

%%

namespace {

// The tokens the parser could take in [state], by name: the actions of the state that are no
// error, as the parser tables hold them.
std::vector<std::string_view> ExpectedTokens(yy_state_t state) {
  std::vector<std::string_view> names;
  int base = yypact[+state];
  if (yypact_value_is_default(base)) return names;
  int first = base < 0 ? -base : 0;
  int limit = YYLAST - base + 1 < YYNTOKENS ? YYLAST - base + 1 : YYNTOKENS;
  for (int symbol = first; symbol < limit; ++symbol) {
    if (yycheck[symbol + base] == symbol && symbol != YYSYMBOL_YYerror &&
        !yytable_value_is_error(yytable[symbol + base])) {
      names.push_back(yysymbol_name(static_cast<yysymbol_kind_t>(symbol)));
    }
  }
  return names;
}

// The parser's name of a token kind; the end of input as "end of file".
std::string_view SymbolName(yysymbol_kind_t symbol) {
  std::string_view name = yysymbol_name(symbol);
  return symbol == YYSYMBOL_YYEOF ? std::string_view("end of file") : name;
}

__attribute__((noinline, cold)) void ExplainSyntaxError(int state, int token,
                                                        ordalis::LexicalAnalyser& lexer) {
  ordalis::SyntaxErrorContext error;
  error.offending = SymbolName(static_cast<yysymbol_kind_t>(token));
  if (const char* text = lexer.token_text()) error.offending_text = text;
  const ordalis::LexicalAnalyser::Token& previous = lexer.previous_token();
  if (previous.kind >= 0) error.previous = SymbolName(YYTRANSLATE(previous.kind));
  error.previous_text = previous.text;
  for (std::string_view name : ExpectedTokens(static_cast<yy_state_t>(state))) {
    error.expected.push_back(name == "\"end of file\"" ? std::string_view("end of file") : name);
  }
  error.if_line = lexer.if_line();
  error.while_line = lexer.while_line();
  error.open = lexer.builder().OpenItems();
  lexer.builder().NoteSyntaxError(ordalis::ExplainSyntaxError(error), ordalis::SummariseSyntaxError(error));
}

}  // namespace
