#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/sql/orv_value.h"

namespace orv {

enum TTokenType : uint8_t {
  tktNone,
  tktString,           // a bare word or operator
  tktQuotedString,     // between apostrophes or double quotes, without them
  tktBracketedString,  // between square brackets, without them
  tktInt,
  tktFloat,
  tktReservedWord,
  tktParam,  // only when the lexer has no parameter list
  tktLeftParenthesis,
  tktRightParenthesis,
  tktComma,
  tktDot,
};

// A set of token kinds.
class TTokenTypes {
 public:
  constexpr TTokenTypes() = default;
  constexpr TTokenTypes(std::initializer_list<TTokenType> kinds) {
    for (TTokenType kind : kinds) bits_ = static_cast<uint16_t>(bits_ | (1u << kind));
  }
  constexpr bool Contains(TTokenType kind) const { return (bits_ >> kind) & 1u; }
  constexpr bool Empty() const { return bits_ == 0; }

 private:
  uint16_t bits_ = 0;
};

// The keyword table: index = position. kAnyReservedWord is the ReservedWord of every token that
// is no keyword, and matches any keyword in TOrvelLexer::IsReservedWord.
inline constexpr int kReservedWordCount = 248;
inline constexpr uint8_t kAnyReservedWord = 248;

enum TReservedWord : uint8_t {
  rwABSOLUTE = 0,
  rwACTION = 1,
  rwADD = 2,
  rwALL = 3,
  rwALLOCATE = 4,
  rwALTER = 5,
  rwAND = 6,
  rwANY = 7,
  rwARE = 8,
  rwAS = 9,
  rwASC = 10,
  rwASSERTION = 11,
  rwAT = 12,
  rwAUTHORIZATION = 13,
  rwAVG = 14,
  rwBEGIN = 15,
  rwBETWEEN = 16,
  rwBIT = 17,
  rwBIT_LENGTH = 18,
  rwBOTH = 19,
  rwBY = 20,
  rwCASCADE = 21,
  rwCASCADED = 22,
  rwCASE = 23,
  rwCAST = 24,
  rwCATALOG = 25,
  rwCHAR = 26,
  rwCHARACTER = 27,
  rwCHAR_LENGTH = 28,
  rwCHARACTER_LENGTH = 29,
  rwCHECK = 30,
  rwCLOSE = 31,
  rwCOALESCE = 32,
  rwCOLLATE = 33,
  rwCOLLATION = 34,
  rwCOLUMN = 35,
  rwCOMMIT = 36,
  rwCONNECT = 37,
  rwCONNECTION = 38,
  rwCONSTRAINT = 39,
  rwCONSTRAINTS = 40,
  rwCONTINUE = 41,
  rwCONVERT = 42,
  rwCORRESPONDING = 43,
  rwCOUNT = 44,
  rwCREATE = 45,
  rwCROSS = 46,
  rwCURRENT = 47,
  rwCURRENT_DATE = 48,
  rwCURRENT_TIME = 49,
  rwCURRENT_TIMESTAMP = 50,
  rwCURRENT_USER = 51,
  rwCURSOR = 52,
  rwDATE = 53,
  rwDAY = 54,
  rwDEALLOCATE = 55,
  rwDEC = 56,
  rwDECIMAL = 57,
  rwDECLARE = 58,
  rwDEFAULT = 59,
  rwDEFERRABLE = 60,
  rwDEFERRED = 61,
  rwDELETE = 62,
  rwDESC = 63,
  rwDESCRIBE = 64,
  rwDESCRIPTOR = 65,
  rwDIAGNOSTICS = 66,
  rwDISCONNECT = 67,
  rwDISTINCT = 68,
  rwDOMAIN = 69,
  rwDOUBLE = 70,
  rwDROP = 71,
  rwELSE = 72,
  rwEND = 73,
  rwEND_EXEC = 74,
  rwESCAPE = 75,
  rwEXCEPT = 76,
  rwEXCEPTION = 77,
  rwEXEC = 78,
  rwEXECUTE = 79,
  rwEXISTS = 80,
  rwEXTERNAL = 81,
  rwEXTRACT = 82,
  rwFALSE = 83,
  rwFETCH = 84,
  rwFIRST = 85,
  rwFLOAT = 86,
  rwFOR = 87,
  rwFOREIGN = 88,
  rwFOUND = 89,
  rwFROM = 90,
  rwFULL = 91,
  rwGET = 92,
  rwGLOBAL = 93,
  rwGO = 94,
  rwGOTO = 95,
  rwGRANT = 96,
  rwGROUP = 97,
  rwHAVING = 98,
  rwHOUR = 99,
  rwIDENTITY = 100,
  rwIMMEDIATE = 101,
  rwIN = 102,
  rwINDICATOR = 103,
  rwINITIALLY = 104,
  rwINNER = 105,
  rwINPUT = 106,
  rwINSENSITIVE = 107,
  rwINSERT = 108,
  rwINT = 109,
  rwINTEGER = 110,
  rwINTERSECT = 111,
  rwINTERVAL = 112,
  rwINTO = 113,
  rwIS = 114,
  rwISOLATION = 115,
  rwJOIN = 116,
  rwKEY = 117,
  rwLANGUAGE = 118,
  rwLAST = 119,
  rwLEADING = 120,
  rwLEFT = 121,
  rwLEVEL = 122,
  rwLIKE = 123,
  rwLOCAL = 124,
  rwLOWER = 125,
  rwMATCH = 126,
  rwMAX = 127,
  rwMEMORY = 128,
  rwMIN = 129,
  rwMINUS = 130,
  rwMINUTE = 131,
  rwMODULE = 132,
  rwMONTH = 133,
  rwNAMES = 134,
  rwNATIONAL = 135,
  rwNATURAL = 136,
  rwNCHAR = 137,
  rwNEXT = 138,
  rwNO = 139,
  rwNOT = 140,
  rwNULL = 141,
  rwNULLIF = 142,
  rwNUMERIC = 143,
  rwOCTET_LENGTH = 144,
  rwOF = 145,
  rwON = 146,
  rwONLY = 147,
  rwOPEN = 148,
  rwOPTION = 149,
  rwOR = 150,
  rwORDER = 151,
  rwOUTER = 152,
  rwOUTPUT = 153,
  rwOVERLAPS = 154,
  rwPAD = 155,
  rwPARTIAL = 156,
  rwPOSITION = 157,
  rwPRECISION = 158,
  rwPREPARE = 159,
  rwPRESERVE = 160,
  rwPRIMARY = 161,
  rwPRIOR = 162,
  rwPRIVILEGES = 163,
  rwPROCEDURE = 164,
  rwPUBLIC = 165,
  rwREAD = 166,
  rwREAL = 167,
  rwREFERENCES = 168,
  rwRELATIVE = 169,
  rwRESTRICT = 170,
  rwREVOKE = 171,
  rwRIGHT = 172,
  rwROLLBACK = 173,
  rwROWS = 174,
  rwSCHEMA = 175,
  rwSCROLL = 176,
  rwSECOND = 177,
  rwSECTION = 178,
  rwSELECT = 179,
  rwSESSION = 180,
  rwSESSION_USER = 181,
  rwSET = 182,
  rwSIZE = 183,
  rwSMALLINT = 184,
  rwSOME = 185,
  rwSPACE = 186,
  rwSQL = 187,
  rwSQLCODE = 188,
  rwSQLERROR = 189,
  rwSQLSTATE = 190,
  rwSUBSTRING = 191,
  rwSUM = 192,
  rwSYSTEM_USER = 193,
  rwTABLE = 194,
  rwTEMPORARY = 195,
  rwTHEN = 196,
  rwTIME = 197,
  rwTIMESTAMP = 198,
  rwTIMEZONE_HOUR = 199,
  rwTIMEZONE_MINUTE = 200,
  rwTO = 201,
  rwTOP = 202,
  rwTRAILING = 203,
  rwTRANSACTION = 204,
  rwTRANSLATE = 205,
  rwTRANSLATION = 206,
  rwTRIM = 207,
  rwTRUE = 208,
  rwUNION = 209,
  rwUNIQUE = 210,
  rwUNKNOWN = 211,
  rwUPDATE = 212,
  rwUPPER = 213,
  rwUSAGE = 214,
  rwUSER = 215,
  rwUSING = 216,
  rwVALUE = 217,
  rwVALUES = 218,
  rwVARCHAR = 219,
  rwVARYING = 220,
  rwVIEW = 221,
  rwWHEN = 222,
  rwWHENEVER = 223,
  rwWHERE = 224,
  rwWITH = 225,
  rwWORK = 226,
  rwWRITE = 227,
  rwYEAR = 228,
  rwZONE = 229,
  rwPASSWORD = 230,
  rwBLOBCOMPRESSIONLEVEL = 231,
  rwBLOBBLOCKSIZE = 232,
  rwLASTAUTOINC = 233,
  rwMODIFY = 234,
  rwNEW = 235,
  rwINDEX = 236,
  rwNOCASE = 237,
  rwLTRIM = 238,
  rwRTRIM = 239,
  rwPOS = 240,
  rwLENGTH = 241,
  rwSYSDATE = 242,
  rwNOW = 243,
  rwTODATE = 244,
  rwTOSTRING = 245,
  rwAUTOINDEXES = 246,
  rwNOAUTOINDEXES = 247,
};

std::string_view ReservedWordText(uint8_t index);  // "" for kAnyReservedWord and above
// The keyword index of a word in any case, or kAnyReservedWord.
uint8_t LookupReservedWord(std::string_view word);

struct TToken {
  TTokenType TokenType = tktNone;
  uint8_t ReservedWord = kAnyReservedWord;
  std::string Text;
  std::u16string WideText;  // the value of a wide-string parameter
  int32_t Line = 0;         // of the token's first character, from 1
  int32_t Column = 0;
};

struct TSQLCommand {
  std::vector<TToken> Tokens;
  int32_t TokenCount = 0;
  int32_t Position = 0;  // the current token
};

// A BLOB parameter becomes a quoted token of this prefix and the parameter's name; INSERT and
// UPDATE fetch the data from the parameter list by that name.
inline constexpr std::string_view kBlobMarkerPrefix = "$Blob$Marker$";
// The parameter name of a BLOB marker token text, or false for any other text.
bool IsBlobMarker(std::string_view text, std::string_view* name);

// Parameters by name, for the lexer to substitute. A value's DataType is the parameter's type,
// NULL or not; BLOB parameters carry their content. ftBCD parameters hold an 8-byte double.
class TOrvParams {
 public:
  virtual ~TOrvParams() = default;
  // Names compare without regard to case; nullptr when there is no such parameter.
  virtual const TOrvValue* FindParam(std::string_view name) const = 0;
};

// A plain list of named values.
class TOrvValueParams : public TOrvParams {
 public:
  // Adds the parameter, or replaces the value of one with that name.
  void Set(std::string_view name, TOrvValue value);
  const TOrvValue* FindParam(std::string_view name) const override;

 private:
  std::vector<std::pair<std::string, TOrvValue>> params_;
};

// Splits a script into commands at ";" and each command into tokens, all in the constructor,
// which raises the engine errors 1 (missing ")"), 2 (unexpected ")"), 3 (unterminated string)
// and 44 (invalid character in a number). Parameters (":name") are replaced by literal tokens
// with their values; a name missing from the list raises "Parameter 'name' not found".
class TOrvelLexer {
 public:
  TOrvelLexer(std::string sql, const TOrvParams* params);

  const std::string& SQL() const { return sql_; }
  const TOrvParams* Params() const { return params_; }
  int32_t CommandCount() const { return static_cast<int32_t>(commands_.size()); }
  const std::vector<TSQLCommand>& Commands() const { return commands_; }
  int32_t CurrentCommand() const { return current_command_; }

  bool NextCommand();
  // At or past the end (or before the first command) the token's kind becomes tktNone, its
  // other fields keep what they held, and the result is false.
  bool GetCurrentToken(TToken& token) const;
  bool PeekNextToken(TToken& token) const;
  // PeekNextToken, then the position moves on whatever the result.
  bool GetNextToken(TToken& token);
  int32_t GetPosition() const;
  bool SetPosition(int32_t index, TToken& token);

  static bool IsReservedWord(const TToken& token, uint8_t index);

 private:
  class Tokenizer;
  bool TokenAt(int64_t index, TToken& token) const;

  std::string sql_;
  const TOrvParams* params_;
  std::vector<TSQLCommand> commands_;
  int32_t current_command_ = -1;
};

// Base of the expression and command parsers: walks the current command's tokens.
class TOrvelParser {
 public:
  explicit TOrvelParser(TOrvelLexer* lexer) : Lexer(lexer) {}
  virtual ~TOrvelParser() = default;

  virtual void Parse() = 0;

  bool NextToken();
  // NextToken. At the end: raises 1008 (with the line of the last token) when raise_at_end,
  // else false. A token whose kind is outside a non-empty allowed set: raises error_code with
  // (text, line, column) when raise_at_end, else false; an error_code of -1 accepts any kind.
  bool NextTokenChecked(TTokenTypes allowed, int error_code, bool raise_at_end);
  // NextToken; at the end raises error_code with (text, line, column) of the last token.
  bool RequireNextToken(int error_code);

  TOrvelLexer* Lexer;
  TToken Token;
};

}  // namespace orv
