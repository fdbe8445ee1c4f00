// English message texts of the Win32 error codes that the file service
// answers with. Log lines that report a failed file operation append the
// text a user would see for the code, whatever language Windows itself
// speaks, so the table is fixed English rather than a platform call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The first line of the English message text of `code` ("Access is denied."
// for 5), or "Unknown error <code>" for a code outside the table.
std::string SystemMessageText(uint32_t code);
// The same text, or "" for a code outside the table.
std::string_view KnownSystemMessageText(uint32_t code);
