// The shipped language files: every text number a feature asks for is in
// both of them, the German file keeps its encoding, and the English file the
// build places beside the programs answers for a text a language lacks.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "infra/ErrorMgr.h"
#include "infra/Tool.h"
#include "platform/text/Text.h"
#include "resources/ResourceMgr.h"
#include "resources/ResourceMgrFixture.h"
#include "support/TestHost.h"

namespace resources_test {
namespace {

// The text numbers the features write into feature documents.
const std::vector<int> kFeatureTextNumbers = {
    // file-system permissions: container, applyOnto texts, rights, inheritance
    104, 105, 106, 107, 108, 109, 110, 170, 111, 112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124,
    125, 126, 171, 172, 173,
    // registry permissions: applyOntoReg texts, container, rights (111 and 121 shared with files)
    127, 128, 129, 130, 131, 132, 133, 134, 135, 136, 137, 138, 139,
    // local groups
    140, 141, 142,
    // DCOM: feature, access and launch rights, applications, configuration rights, defaults and limits
    143, 144, 145, 146, 147, 148, 149, 157, 150, 151, 152, 153, 154, 155, 156, 174, 175,
    // DCOM authentication levels, permission choices
    176, 177, 178, 179, 180, 181, 182, 183, 184,
    // firewall: feature, ICMP, system services on and off, scopes, ports, applications
    158, 159, 160, 161, 162, 186, 187, 188, 163, 164, 165, 166, 167, 168, 189, 169,
    // automatic updates
    191, 192,
};

std::string DataDirectory(const TestHost& host) { return host.WindowsPathOf(TARVO_SOURCE_DIR "/data"); }

std::string ReadLinuxFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

class ResourceMgrCatalogTest : public ResourceMgrTest {};

TEST_F(ResourceMgrCatalogTest, EveryFeatureTextIsInBothLanguageFiles) {
  // The program's folder holds no English file here, so a missing text shows as a marker.
  for (int lcid : {1033, 1031}) {
    CResourceMgr::Reset();
    CErrorMgr errorMgr;
    ASSERT_TRUE(CResourceMgr::LoadResource(errorMgr, DataDirectory(host_), lcid)) << lcid;
    ASSERT_EQ(CResourceMgr::LoadedLanguage(), lcid);
    for (int number : kFeatureTextNumbers) {
      const std::string text = CResourceMgr::GetResourceText(number);
      EXPECT_FALSE(text.empty() || text.starts_with("###")) << "text " << number << " in Tarvo_" << lcid
                                                             << ".ulf: " << text;
    }
  }
}

TEST_F(ResourceMgrCatalogTest, GermanFileIsUtf16WithCrLf) {
  const std::string bytes = ReadLinuxFile(TARVO_SOURCE_DIR "/data/Tarvo_1031.ulf");
  ASSERT_TRUE(bytes.starts_with("\xFF\xFE"));
  const std::u16string units = text::Utf16LeBytesToUtf16(std::string_view(bytes).substr(2));
  for (size_t i = 0; i < units.size(); ++i) {
    if (units[i] == u'\n') {
      EXPECT_TRUE(i > 0 && units[i - 1] == u'\r') << "bare line feed at unit " << i;
    }
  }
  CErrorMgr errorMgr;
  ASSERT_TRUE(CResourceMgr::LoadResource(errorMgr, DataDirectory(host_), 1031));
  EXPECT_EQ(CResourceMgr::GetResourceText(121), "L\xC3\xB6schen");
}

// With the host's own System service the program's folder is the build's
// bin folder, where the build copies the language files.
class ResourceMgrShippedFileTest : public ::testing::Test {
 protected:
  void SetUp() override { CResourceMgr::Reset(); }
  void TearDown() override { CResourceMgr::Reset(); }
  TestHost host_;
};

TEST_F(ResourceMgrShippedFileTest, EnglishBesideTheProgramAnswersForAMissingText) {
  ASSERT_TRUE(CResourceMgr::HasLanguageFile(CStdTool::GetExePath(), 1033)) << CStdTool::GetExePath();
  CErrorMgr errorMgr;
  ASSERT_TRUE(CResourceMgr::LoadResource(errorMgr, DataDirectory(host_), 1033));
  const std::string english = CResourceMgr::GetResourceText(191);

  CResourceMgr::Reset();
  host_.WriteHostFile("C:\\lang\\Tarvo_1031.ulf", Utf16File(u"192=Automatische Updates fortsetzen\r\n"));
  ASSERT_TRUE(CResourceMgr::LoadResource(errorMgr, "C:\\lang", 1031));
  EXPECT_EQ(CResourceMgr::GetResourceText(191), english);
  EXPECT_EQ(CResourceMgr::GetResourceText(192), "Automatische Updates fortsetzen");
}

}  // namespace
}  // namespace resources_test
