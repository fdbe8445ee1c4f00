#include "platform/xml/XmlError.h"

namespace xml {

ParseError MakeParseError(uint32_t code, std::string_view reason, int32_t line, int32_t linePosition) {
  ParseError error;
  error.errorCode = code;
  error.reason.assign(reason);
  error.reason += "\r\n";
  error.line = line;
  error.linePosition = linePosition;
  return error;
}

}  // namespace xml
