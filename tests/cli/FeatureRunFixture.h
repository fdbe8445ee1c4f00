// End-to-end runs of the feature methods: a temporary host holding signed
// security files and an OPFile naming them, tarvo run as a child process,
// and the files the run leaves behind read back.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "infra/ErrorMgr.h"
#include "platform/xml/Dom.h"
#include "securityfiles/RepositoryMgr.h"
#include "securityfiles/SecurityFileFormat.h"
#include "support/OpFile.h"
#include "support/RunProgram.h"
#include "support/TestHost.h"

class FeatureRunTest : public ::testing::Test {
 protected:
  using Sections = std::vector<std::pair<std::string, std::vector<std::string>>>;
  static constexpr const char* kOpFile = "C:\\setup\\op.ini";
  static constexpr const char* kRepository = "C:\\Windows\\Security\\Kelmar\\";

  explicit FeatureRunTest(std::string_view profile = "win7-sp1-x64", std::string_view updateAgent = "present",
                          std::string_view language = "en-US")
      : host_(profile, language, host::OpenOptions{}.process32Bit, updateAgent) {
    host_.Platform().Files().MakeDirectory("C:\\logs");
  }

  // A security file of `product` whose t:body holds `body`, with a valid
  // checksum; `path` is a Windows path.
  void WriteSecurityFile(const std::string& path, std::string_view body, std::string_view product = "Plant Viewer") {
    const std::string text = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><t:vscSetup xmlns:t=\"") +
                             secfile::kSecurityFileNamespace + "\"><t:host name=\"\"><t:products><t:product value=\"" +
                             std::string(product) + "\"/></t:products><t:body>" + std::string(body) +
                             "</t:body></t:host></t:vscSetup>";
    xml::Document document = xml::Document::Create();
    ASSERT_TRUE(document.LoadXml(text)) << text;
    CErrorMgr errors;
    host_.Platform().Files().MakeDirectory("C:\\sec");
    ASSERT_TRUE(CRepositoryMgr::SaveXMLWithHash(errors, document, path));
  }

  std::vector<std::string> General(std::vector<std::string> extra = {}) const {
    std::vector<std::string> general = {"SessionID=Session 1", "ResourcePath=" + BinFolderWindowsPath(),
                                        "SetupLanguage=1033", "LogfilePath=C:\\logs\\"};
    general.insert(general.end(), extra.begin(), extra.end());
    return general;
  }
  // [ProductN] sections, each listing its security files.
  static std::vector<std::string> Product(const std::string& upgradeCode, const std::vector<std::string>& files) {
    std::vector<std::string> lines = {"UpgradeCode=" + upgradeCode, "InstallDir=C:\\Program Files\\App"};
    for (size_t i = 0; i < files.size(); ++i) lines.push_back("SecurityXML" + std::to_string(i + 1) + "=" + files[i]);
    return lines;
  }
  void WriteOpFile(const std::vector<std::string>& general, const Sections& products) {
    Sections sections = products;
    sections.insert(sections.begin(), {"GENERAL", general});
    host_.WriteHostFile(kOpFile, Utf16FileBytes(MakeOpFileText(sections)));
  }
  // One product with one security file C:\sec\a.xml holding `body`.
  void WriteSingleFileSetup(std::string_view body, std::vector<std::string> extraGeneral = {}) {
    WriteSecurityFile("C:\\sec\\a.xml", body);
    WriteOpFile(General(std::move(extraGeneral)), {{"Product1", Product("{A}", {"C:\\sec\\a.xml"})}});
  }

  ProgramResult Tarvo(const std::string& method, const std::string& cwd = "") {
    return RunProgram(BinaryPath("tarvo"), {method, kOpFile}, {{"TARVO_HOST", host_.Folder()}}, cwd);
  }
  std::vector<std::string> Results() { return SectionLines(FileText(host_.ReadHostFile(kOpFile)), "RESULTS"); }
  std::string Result(const std::string& key) {
    for (const std::string& line : Results()) {
      if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return "<missing>";
  }
  std::string Log() { return MaskTimes(host_.ReadHostFile("C:\\logs\\Tarvo.log")); }
  bool Exists(const std::string& windowsPath) const { return std::filesystem::exists(host_.HostPath(windowsPath)); }
  // A UTF-16 document the program wrote, as UTF-8 text.
  std::string DocumentText(const std::string& windowsPath) { return FileText(host_.ReadHostFile(windowsPath)); }

  TestHost host_;
};

// A t:wua element with extra attributes.
inline std::string Wua(std::string_view value, std::string_view attributes = "") {
  return "<t:wua value=\"" + std::string(value) + "\" " + std::string(attributes) + "/>";
}

// How often `part` occurs in `text`.
inline size_t Count(const std::string& text, std::string_view part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}
