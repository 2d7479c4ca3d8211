// Lexes arbitrary text with and without a parameter list and walks every token; the lexer may
// only answer with its errors, and every token it makes must be well-formed.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/common/orv_exception.h"
#include "engine/sql/orv_lexer.h"

namespace {

const orv::TOrvValueParams& Params() {
  static const orv::TOrvValueParams* params = [] {
    auto* list = new orv::TOrvValueParams();
    orv::TOrvValue v;
    v.SetFloat(2.5);
    list->Set("p", v);
    v.SetInteger(-7);
    list->Set("id", v);
    v.SetString("O'Neil; --");
    list->Set("name", v);
    v.SetData(orv::ftBlob, "\x01\x02", 2);
    list->Set("Foto", v);
    v.SetWideString(u"\u0416\u4E2D");
    list->Set("ws", v);
    v.SetDate(45356);
    list->Set("d", v);
    v.SetBoolean(true);
    list->Set("flag", v);
    v.SetNull(orv::ftInteger);
    list->Set("none", v);
    return list;
  }();
  return *params;
}

class Walker : public orv::TOrvelParser {
 public:
  using orv::TOrvelParser::TOrvelParser;
  void Parse() override {}
};

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void Lex(const std::string& sql, const orv::TOrvParams* params) {
  try {
    orv::TOrvelLexer lexer(sql, params);
    int32_t lines = 1;
    for (char c : sql) lines += c == '\n';
    for (const orv::TSQLCommand& command : lexer.Commands()) {
      Check(command.TokenCount == static_cast<int32_t>(command.Tokens.size()));
      Check(command.TokenCount > 0 && command.Position == 0);
      for (const orv::TToken& token : command.Tokens) {
        Check(token.TokenType > orv::tktNone && token.TokenType <= orv::tktDot);
        Check(token.Line >= 1 && token.Line <= lines && token.Column >= 1);
        Check((token.TokenType == orv::tktReservedWord) ==
              (token.ReservedWord < orv::kReservedWordCount));
        Check(params == nullptr || token.TokenType != orv::tktParam);
      }
    }
    Walker walker(&lexer);
    while (lexer.NextCommand()) {
      int32_t count = lexer.Commands()[lexer.CurrentCommand()].TokenCount;
      Check(lexer.GetCurrentToken(walker.Token));
      int32_t steps = 0;
      while (walker.NextTokenChecked({orv::tktString, orv::tktInt}, 1023, false)) ++steps;
      Check(steps < count);
      lexer.SetPosition(0, walker.Token);
      while (walker.NextToken()) ++steps;
      Check(lexer.GetPosition() <= count + 1);
    }
  } catch (const orv::Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string sql(reinterpret_cast<const char*>(data), size);
  Lex(sql, nullptr);
  Lex(sql, &Params());
  return 0;
}
