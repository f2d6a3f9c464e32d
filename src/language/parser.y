/* The grammar of the script language. Each action hands the recognised construct to the tree
   builder of the parse, which makes the items and hangs them into the tree. Statement lists are
   left-recursive, so a long script never deepens the parser stack; only nesting does. */

%require "3.8"
%define api.pure full
%define api.prefix {odl}
%define api.token.prefix {TOK_}
%define api.value.type {ordalis::TokenValue}
%define parse.error custom
%param {yyscan_t scanner}
%parse-param {ordalis::LexicalAnalyser& lexer}

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

namespace {
// Syntax errors become error items through the error rule; nothing is printed.
void odlerror(yyscan_t, ordalis::LexicalAnalyser&, const char*) {}
}

// Every action that builds items first tells the analyser whether the parser holds a
// look-ahead token, so the items carry the line of the last token the parser took.
#define B                                                                                   \
  (lexer.StampLineOf(yychar == TOK_ODLEMPTY ? ordalis::TokenPosition::kCurrent              \
                                            : ordalis::TokenPosition::kPrevious),           \
   lexer.builder())
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
  | DEFAULT                               { B.BeginDefault(); }
    assignment                            { B.EndDefault(); }
  | error                                 {
                                            /* The error item stands on the line of the token
                                               it names; at the end of input, on the line of
                                               the last token. */
                                            bool at_end = yychar == TOK_YYEOF;
                                            lexer.StampLineOf(at_end ? ordalis::TokenPosition::kPrevious
                                                                     : ordalis::TokenPosition::kCurrent);
                                            lexer.builder().Error(at_end ? nullptr : lexer.token_text());
                                            if (!at_end) yyclearin;
                                          }
  | DELETE IDENTIFIER                     { B.Delete($2.text); }
  | IF expression THEN                    { B.BeginIf(); }
    statements if_end
  | WHILE expression DO                   { B.BeginWhile(); }
    statements ENDWHILE                   { B.EndWhile(); }
  | variable INC                          { B.Increment(ordalis::incrementItem, "++"); }
  | variable DEC                          { B.Increment(ordalis::decrementItem, "--"); }
  | action_call
  | INCLUDE STRING                        { B.Include(lexer.directory_text(), $2.text); }
  | RESULT                                { B.BeginResult(""); }
    statement                             { B.EndResult(); }
  | RESULT STRING                         { B.BeginResult($2.text); }
    statement                             { B.EndResult(); }
  | FUNCTION IDENTIFIER                   { B.BeginBlock(ordalis::functionItem, $2.text); }
    statements ENDFUNCTION                { B.EndBlock(); }
  | IDENTIFIER call_arguments             { B.StatementCall($1.text, false); }
  | IDENTIFIER call_arguments ':'         { B.StatementCall($1.text, true); }
  | RESULTVALUE                           { B.TestResult($1.integer); }
  | ABORT '(' STRING ')'                  { B.Abort($3.text); }
  | MOVELOGFILE '(' STRING ')'            { B.LogFile(ordalis::moveLogFileItem, "movelogfile", true, $3.text); }
  | MOVELOGFILE '(' variable ')'          { B.LogFile(ordalis::moveLogFileItem, "movelogfile", false, {}); }
  | COPYLOGFILE '(' STRING ')'            { B.LogFile(ordalis::copyLogFileItem, "copylogfile", true, $3.text); }
  | COPYLOGFILE '(' variable ')'          { B.LogFile(ordalis::copyLogFileItem, "copylogfile", false, {}); }
  | RETURN values                         { B.Return(); }
  | LOCAL                                 { B.BeginLocal(); }
    statement                             { B.EndLocal(); }
  | IGNORERESULT                          { B.BeginBlock(ordalis::ignoreResultItem, "ignoreresult"); }
    statements ENDIGNORERESULT            { B.EndBlock(); }
  ;

if_end
  : ENDIF                                 { B.EndIf(); }
  | ELSE                                  { B.Else(); }
    statements ENDIF                      { B.EndIf(); }
  ;

assignment
  : IDENTIFIER '='                        { B.BeginAssignment($1.text); }
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
  | '['                                   { B.BeginArray(); }
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
  | name '['                              { B.BeginIndex(); }
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
  | IDENTIFIER '('                        { B.BeginExpressionCall($1.text); }
    optional_values ')' quiet_mark        { B.EndExpressionCall($6.integer != 0); }
  | RESULTVALUE                           { B.TestResult($1.integer); }
  | action_call
  | strings                               { B.Value(ordalis::stringItem, std::string($1.text)); }
  | expression AND expression             { B.Binary(ordalis::andItem, "and"); STOP_WHEN_TOO_DEEP; }
  | expression OR expression              { B.Binary(ordalis::orItem, "or"); STOP_WHEN_TOO_DEEP; }
  | NOT expression                        { B.Not(); }
  | expression LT expression              { B.Binary(ordalis::lessThanItem, "<"); STOP_WHEN_TOO_DEEP; }
  | expression LE expression              { B.Binary(ordalis::lessThanOrEqualItem, "<="); STOP_WHEN_TOO_DEEP; }
  | expression EQ expression              { B.Binary(ordalis::equalItem, "=="); STOP_WHEN_TOO_DEEP; }
  | expression GE expression              { B.Binary(ordalis::greaterThanOrEqualItem, ">="); STOP_WHEN_TOO_DEEP; }
  | expression GT expression              { B.Binary(ordalis::greaterThanItem, ">"); STOP_WHEN_TOO_DEEP; }
  | expression NE expression              { B.Binary(ordalis::notEqualItem, "!="); STOP_WHEN_TOO_DEEP; }
  ;

%%

/* Explains the syntax error the parser just met; the error items that recovery makes follow
   the explanation. */
static int yyreport_syntax_error(const yypcontext_t* context, yyscan_t, ordalis::LexicalAnalyser& lexer) {
  ordalis::SyntaxErrorContext error;
  error.offending = yysymbol_name(yypcontext_token(context));
  if (const char* text = lexer.token_text()) error.offending_text = text;
  const ordalis::LexicalAnalyser::Token& previous = lexer.previous_token();
  if (previous.kind >= 0) error.previous = yysymbol_name(YYTRANSLATE(previous.kind));
  error.previous_text = previous.text;
  yysymbol_kind_t expected[YYNTOKENS];
  int count = yypcontext_expected_tokens(context, expected, YYNTOKENS);
  for (int i = 0; i < count; ++i) error.expected.push_back(yysymbol_name(expected[i]));
  error.if_line = lexer.if_line();
  error.while_line = lexer.while_line();
  error.open = lexer.builder().OpenItems();
  lexer.builder().NoteSyntaxError(ordalis::ExplainSyntaxError(error));
  return 0;
}
