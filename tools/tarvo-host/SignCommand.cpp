// tarvo-host sign: writes the checksum into a security file or repository
// document, or checks the one it carries, with the program's own checksum
// operations, so that a file edited by hand can be made loadable again and
// a shipped file can be checked before it goes out.
#include <ostream>
#include <string>
#include <vector>

#include "infra/ErrorMgr.h"
#include "platform/xml/Dom.h"
#include "securityfiles/RepositoryMgr.h"
#include "securityfiles/XmlServices.h"
#include "tools/tarvo-host/HostCommands.h"
#include "tools/tarvo-host/Json.h"

namespace hosttool {
namespace {

struct SignRequest {
  bool verify = false;
  std::string file;  // as given, for the messages
};

bool ParseSignArguments(const std::vector<std::string>& args, SignRequest* request, std::string* error) {
  size_t files = 0;
  for (const std::string& a : args) {
    if (a == "--verify") {
      request->verify = true;
    } else if (a.starts_with("--")) {
      *error = "sign: unknown option '" + a + "'";
      return false;
    } else if (++files == 1) {
      request->file = a;
    }
  }
  if (files != 1) {
    *error = files == 0 ? "sign: a file is needed" : "sign: one file only";
    return false;
  }
  return true;
}

// The messages the checksum operations recorded (warnings and worse), so a
// failure says why in the product's own words.
std::string RecordedProblems(const CErrorMgr& errorMgr) {
  std::string text;
  for (const auto& entry : errorMgr.Entries()) {
    if (entry->level < kLevelWarning) continue;
    text += (text.empty() ? "" : "; ") + entry->message;
  }
  return text;
}

bool LoadDocument(CommandContext& c, const std::string& file, const std::string& path, xml::Document* document) {
  xml::ParseError parseError;
  const int rc = LoadXmlFile(path, document, &parseError);
  if (rc == kLoadXmlOk) return true;
  if (rc == kLoadXmlFileNotFound) {
    c.Fail(file + ": no such file");
  } else {
    std::string reason = parseError.reason;
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
    c.Fail(file + ": cannot be loaded (code " + std::to_string(rc) + ")" + (reason.empty() ? "" : ": " + reason));
  }
  return false;
}

int Sign(CommandContext& c, const SignRequest& request, const std::string& path, const xml::Document& document) {
  CErrorMgr errorMgr;
  if (!CRepositoryMgr::SaveXMLWithHash(errorMgr, document, path)) {
    return c.Fail(request.file + ": not signed: " + RecordedProblems(errorMgr));
  }
  const std::string checksum = CRepositoryMgr::GetStoredCheckSum(document);
  if (c.json) {
    JsonWriter j;
    j.BeginObject().Field("file", request.file).Field("checksum", checksum).EndObject();
    *c.out << j.Text() << "\n";
  } else {
    *c.out << request.file << ": signed, checksum " << checksum << "\n";
  }
  return kExitOk;
}

int Verify(CommandContext& c, const SignRequest& request, const xml::Document& document) {
  CErrorMgr errorMgr;
  const bool ok = CRepositoryMgr::CheckCheckSum(errorMgr, document, request.file, false);
  const std::string stored = CRepositoryMgr::GetStoredCheckSum(document);
  CErrorMgr quiet;  // the computation again, for the message only
  const std::string computed = CRepositoryMgr::ComputeCheckSum(quiet, document);
  if (c.json) {
    JsonWriter j;
    j.BeginObject()
        .Field("file", request.file)
        .Field("ok", ok)
        .Field("stored", stored)
        .Field("computed", computed)
        .EndObject();
    *c.out << j.Text() << "\n";
    return ok ? kExitOk : kExitBadCall;
  }
  if (ok) {
    *c.out << request.file << ": checksum ok\n";
    return kExitOk;
  }
  if (computed.empty()) return c.Fail(request.file + ": checksum cannot be computed: " + RecordedProblems(errorMgr));
  return c.Fail(request.file + ": checksum mismatch (stored '" + stored + "', computed '" + computed + "')");
}

}  // namespace

int RunSignCommand(CommandContext& c) {
  SignRequest request;
  std::string error;
  if (!ParseSignArguments(c.args, &request, &error)) return c.Fail(error);
  host::Host* h = c.OpenHost();
  if (!h) return kExitNoHost;
  // An absolute POSIX path is the host's Z: drive; anything else is taken as
  // a Windows path (relative ones against the current directory).
  const std::string path = request.file.starts_with("/") ? h->Paths().WindowsPathOf(request.file) : request.file;
  xml::Document document;
  if (!LoadDocument(c, request.file, path, &document)) return kExitBadCall;
  return request.verify ? Verify(c, request, document) : Sign(c, request, path, document);
}

}  // namespace hosttool
