// The repository against a throw-away host: where the folder lies, how the
// repository file is created, verified and saved, how security files are
// stored under unique names and taken back by AddClientXML, the product and
// language queries, and the firewall repository of a snapshot folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "infra/BuildInfo.h"
#include "infra/ErrorMgr.h"
#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/xml/Dom.h"
#include "securityfiles/RepositoryMgr.h"
#include "securityfiles/SecurityFileFormat.h"
#include "securityfiles/XmlServices.h"
#include "support/TestHost.h"

namespace {

constexpr const char* kFolder = "C:\\Windows\\Security\\Kelmar";
constexpr const char* kRepositoryPath = "C:\\Windows\\Security\\Kelmar\\TarvoRepository.xml";

xml::Document SecurityDocument(const std::string& product, const std::string& marker = "pause") {
  xml::Document document = xml::Document::Create();
  const std::string text = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<t:vscSetup xmlns:t=\"") +
                           secfile::kSecurityFileNamespace + "\"><t:host name=\"\"><t:products><t:product value=\"" +
                           product + "\"/></t:products><t:body><t:wua value=\"" + marker +
                           "\"/></t:body></t:host></t:vscSetup>";
  EXPECT_TRUE(document.LoadXml(text)) << document.GetParseError().reason;
  return document;
}

bool Exists(std::string_view path) { return plat::PathExists(plat::Current().Files(), path); }

xml::Document LoadFile(std::string_view path) {
  xml::Document document;
  EXPECT_EQ(LoadXmlFile(path, &document), kLoadXmlOk) << path;
  return document;
}

std::string Value(const xml::Node& node, std::string_view xpath) {
  std::string value;
  GetXmlValue(node, xpath, &value);
  return value;
}

class RepositoryTest : public ::testing::Test {
 protected:
  bool HasEntry(int level, std::string_view function, std::string_view message) const {
    for (const auto& entry : errorMgr_.Entries()) {
      if (entry->level == level && entry->function == function && entry->message == message) return true;
    }
    return false;
  }
  bool HasEntryAtOrAbove(int level) const {
    for (const auto& entry : errorMgr_.Entries()) {
      if (entry->level >= level) return true;
    }
    return false;
  }
  bool Store(const std::string& path, const std::string& upgradeCode, const xml::Document& document,
             const std::string& language = "1031") {
    return CRepositoryMgr::SaveSecurityXMLToRepository(errorMgr_, language, {document, path, upgradeCode});
  }
  std::vector<CRepositoryProduct> Products(int selection = kRepositoryProductsAll) {
    return CRepositoryMgr::GetRepositoryProducts(errorMgr_, selection);
  }

  TestHost host_;
  CErrorMgr errorMgr_;
};

// ---- Folder --------------------------------------------------------------------

TEST(RepositoryFolder, LiesBelowTheWindowsFolderOfTheProfile) {
  {
    TestHost host("win7-sp1-x64");
    CErrorMgr errorMgr;
    EXPECT_EQ(CRepositoryMgr::ReturnRepositoryDir(errorMgr, false), kFolder);
    EXPECT_FALSE(Exists(kFolder)) << "without the create flag nothing is made";
    EXPECT_EQ(CRepositoryMgr::ReturnRepositoryDir(errorMgr, true), kFolder);
    EXPECT_TRUE(plat::IsDirectory(plat::Current().Files(), kFolder));
  }
  {
    TestHost host("winxp-sp3-x86");
    CErrorMgr errorMgr;
    EXPECT_EQ(CRepositoryMgr::ReturnRepositoryDir(errorMgr, true), "C:\\WINDOWS\\Security\\Kelmar");
    EXPECT_TRUE(errorMgr.Entries().empty());
  }
}

// ---- The repository file ----------------------------------------------------------

TEST_F(RepositoryTest, OpenCreatesAVerifiableProgramDocument) {
  EXPECT_FALSE(CRepositoryMgr::RepositoryExists());
  const xml::Document created = CRepositoryMgr::OpenRepository(errorMgr_);
  ASSERT_FALSE(created.IsNull());
  EXPECT_TRUE(CRepositoryMgr::RepositoryExists());
  EXPECT_TRUE(HasEntry(kLevelInfo, "CRepositoryMgr::OpenRepository",
                       std::string("The repository was not found here. It will be created here: '") +
                           kRepositoryPath + "'"));
  EXPECT_TRUE(HasEntry(kLevelInfo, "CRepositoryMgr::OpenRepository", "The repository was created successfully! "));

  const xml::Document loaded = CRepositoryMgr::LoadRepository(errorMgr_);
  ASSERT_FALSE(loaded.IsNull());
  EXPECT_EQ(loaded.DocumentElement().NodeName(), "t:TarvoRepository");
  EXPECT_EQ(loaded.DocumentElement().GetAttribute("xmlns:t"), secfile::kProgramNamespace);
  // Written in the encoding its declaration names: UTF-16 with byte-order mark.
  EXPECT_EQ(host_.ReadHostFile(kRepositoryPath).substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(Value(loaded, "t:TarvoRepository/t:checksum/@value").size(), 32u);
  EXPECT_FALSE(HasEntryAtOrAbove(kLevelError));
  // Opening again only loads: no second creation.
  errorMgr_.ResetMessages();
  EXPECT_FALSE(CRepositoryMgr::OpenRepository(errorMgr_).IsNull());
  EXPECT_TRUE(errorMgr_.Entries().empty());
}

TEST_F(RepositoryTest, AMissingRepositoryIsNotedByCheckAndCriticalForLoad) {
  EXPECT_FALSE(CRepositoryMgr::CheckRepository(errorMgr_));
  EXPECT_TRUE(HasEntry(kLevelInfo, "CRepositoryMgr::CheckRepository",
                       std::string("  The repository file was not found here: '") + kRepositoryPath + "'"));
  EXPECT_FALSE(errorMgr_.IsError());
  EXPECT_TRUE(CRepositoryMgr::LoadRepository(errorMgr_).IsNull());
  EXPECT_TRUE(HasEntry(kLevelCritical, "CRepositoryMgr::LoadRepository",
                       std::string("The repository file was not found here: '") + kRepositoryPath + "'"));
}

TEST_F(RepositoryTest, ARepositoryChangedByHandFailsItsChecksumButStillLoads) {
  ASSERT_TRUE(Store("C:\\Setup\\Alpha.xml", "{UC-A}", SecurityDocument("Alpha")));
  const xml::Document edited = LoadFile(kRepositoryPath);
  SetXmlAttribute(edited.SelectSingleNode("t:TarvoRepository/t:products/t:product"), "value", "{UC-B}");
  ASSERT_EQ(edited.Save(kRepositoryPath), 0u);

  errorMgr_.ResetMessages();
  const xml::Document loaded = CRepositoryMgr::LoadRepository(errorMgr_);
  ASSERT_FALSE(loaded.IsNull());
  EXPECT_TRUE(HasEntry(kLevelCritical, "CRepositoryMgr::CheckCheckSum",
                       std::string("Hash Check failed:  ") + kRepositoryPath));
  // The language query treats the refused file as unusable.
  EXPECT_EQ(CRepositoryMgr::GetRepositoryLanguage(errorMgr_), "1033");
  // CheckRepository only asks whether it loads.
  errorMgr_.ResetMessages();
  EXPECT_TRUE(CRepositoryMgr::CheckRepository(errorMgr_));
  EXPECT_TRUE(errorMgr_.Entries().empty());
}

TEST_F(RepositoryTest, AFileThatDoesNotParseIsReportedByOpen) {
  host_.WriteHostFile(kRepositoryPath, "<t:TarvoRepository");
  EXPECT_TRUE(CRepositoryMgr::OpenRepository(errorMgr_).IsNull());
  EXPECT_TRUE(HasEntry(kLevelCritical, "CRepositoryMgr::OpenRepository",
                       "Error while opening the Tarvo Repository. The file exists, but couldn't be opened"));
}

// ---- Stored security files -----------------------------------------------------

TEST_F(RepositoryTest, StoredCopiesGetUniqueNamesAndTheirOwnChecksum) {
  // A file of that name is already there (not from the repository).
  host_.WriteHostFile(std::string(kFolder) + "\\Alpha.xml", "foreign");
  ASSERT_TRUE(Store("C:\\Setup\\Alpha.xml", "{UC-A}", SecurityDocument("Alpha", "one")));
  ASSERT_TRUE(Store("C:\\Setup\\Alpha2.xml", "{UC-A}", SecurityDocument("Alpha", "two")));

  const std::string first = std::string(kFolder) + "\\Alpha_0.xml";
  const std::string second = std::string(kFolder) + "\\Alpha_1.xml";
  EXPECT_EQ(Products(), (std::vector<CRepositoryProduct>{{"{UC-A}", first}, {"{UC-A}", second}}));
  EXPECT_EQ(host_.ReadHostFile(std::string(kFolder) + "\\Alpha.xml"), "foreign");

  const xml::Document copy = LoadFile(first);
  EXPECT_EQ(Value(copy, "t:vscSetup/t:host/t:body/t:wua/@value"), "one");
  EXPECT_TRUE(CRepositoryMgr::CheckCheckSum(errorMgr_, copy, first, false));

  const xml::Document repository = LoadFile(kRepositoryPath);
  EXPECT_EQ(Value(repository, "t:TarvoRepository/t:products/t:product/@platform"), kBuildPlatform);
  EXPECT_EQ(Value(repository, "t:TarvoRepository/t:products/t:product/t:securityfile/@originalname"),
            "C:\\Setup\\Alpha.xml");
  EXPECT_TRUE(CRepositoryMgr::CheckCheckSum(errorMgr_, repository, kRepositoryPath, false));
  EXPECT_FALSE(HasEntryAtOrAbove(kLevelError));
}

// Steps of one run: store a file of a product ("store P"), a foreign file
// appearing in the folder ("file P_0.xml"), another run registering a file
// of its own between two of ours ("other P"). Copies are named as a probe
// from "<product>.xml" upwards names them (names match without regard to
// case), whatever was kept between the steps, and nothing another run
// registered is lost.
TEST(RepositoryCopyNames, FollowTheProbeAcrossOneRun) {
  struct Case {
    const char* name;
    std::vector<std::string> steps;
    std::vector<std::string> copies;  // registered copies in document order
  };
  const std::vector<Case> cases = {
      {"taken name skipped", {"file P_0.xml", "store P", "store P", "store P"}, {"P.xml", "P_1.xml", "P_2.xml"}},
      {"letter case", {"store P", "store Q", "store P", "store p", "store P"},
       {"P.xml", "P_0.xml", "P_2.xml", "Q.xml", "p_1.xml"}},
      {"foreign file mid-run", {"store P", "store P", "file P_1.xml", "store P"}, {"P.xml", "P_0.xml", "P_2.xml"}},
      {"other run between", {"store P", "other P", "store P", "other Q", "store Q"},
       {"P.xml", "P_0.xml", "O_P.xml", "O_Q.xml", "Q.xml"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestHost host;
    CErrorMgr errorMgr;
    int n = 0;
    for (const std::string& step : c.steps) {
      const std::string what = step.substr(0, step.find(' '));
      const std::string arg = step.substr(step.find(' ') + 1);
      const std::string original = "C:\\Setup\\f" + std::to_string(++n) + ".xml";
      if (what == "file") host.WriteHostFile(std::string(kFolder) + "\\" + arg, "foreign");
      if (what == "store") {
        ASSERT_TRUE(CRepositoryMgr::SaveSecurityXMLToRepository(errorMgr, "1031", {SecurityDocument(arg), original, "{UC-" + arg + "}"}));
      }
      if (what == "other") {
        // Another run: its own load, entry and save of the file, and a copy
        // named so that ours never take it.
        const xml::Document repository = LoadFile(kRepositoryPath);
        const xml::Node product = repository.SelectSingleNode("t:TarvoRepository/t:products")
                                      .AppendChild(repository.CreateElement("t:product"));
        SetXmlAttribute(product, "value", "{UC-O" + arg + "}");
        SetXmlAttribute(product, "platform", kBuildPlatform);
        const xml::Node file = product.AppendChild(repository.CreateElement("t:securityfile"));
        SetXmlAttribute(file, "originalname", original);
        SetXmlAttribute(file, "secfilename", std::string(kFolder) + "\\O_" + arg + ".xml");
        host.WriteHostFile(std::string(kFolder) + "\\O_" + arg + ".xml", "copy");
        ASSERT_TRUE(CRepositoryMgr::SaveRepository(errorMgr, repository));
      }
    }
    std::vector<std::string> copies;
    for (const CRepositoryProduct& stored : CRepositoryMgr::GetRepositoryProducts(errorMgr, kRepositoryProductsAll)) {
      copies.push_back(stored.secFileName.substr(std::string(kFolder).size() + 1));
    }
    EXPECT_EQ(copies, c.copies);
    EXPECT_EQ(errorMgr.GetHighestLevel(), kLevelInfo);
  }
}

TEST_F(RepositoryTest, StoringAPathAgainOnlyChangesTheLanguage) {
  ASSERT_TRUE(Store("C:\\Setup\\Alpha.xml", "{UC-A}", SecurityDocument("Alpha", "one"), "1031"));
  ASSERT_TRUE(Store("C:\\Setup\\Alpha.xml", "{UC-A}", SecurityDocument("Alpha", "changed"), "1036"));

  EXPECT_EQ(Products(), (std::vector<CRepositoryProduct>{{"{UC-A}", std::string(kFolder) + "\\Alpha.xml"}}));
  EXPECT_FALSE(Exists(std::string(kFolder) + "\\Alpha_0.xml"));
  EXPECT_EQ(Value(LoadFile(std::string(kFolder) + "\\Alpha.xml"), "t:vscSetup/t:host/t:body/t:wua/@value"), "one");
  EXPECT_EQ(CRepositoryMgr::GetRepositoryLanguage(errorMgr_), "1036");
}

TEST_F(RepositoryTest, NamesAndPathsWithApostrophesAndBackslashesAreFoundAgain) {
  const std::string path = "C:\\Setup\\O'Brien's \"Tools\"\\Station.xml";
  const std::string upgradeCode = "O'Brien's Tools";
  ASSERT_TRUE(Store(path, upgradeCode, SecurityDocument("O'Brien")));
  ASSERT_TRUE(Store(path, upgradeCode, SecurityDocument("O'Brien")));

  const xml::Document repository = LoadFile(kRepositoryPath);
  EXPECT_EQ(repository.SelectNodes("t:TarvoRepository/t:products/t:product").Length(), 1u);
  EXPECT_EQ(repository.SelectNodes("//t:securityfile").Length(), 1u);
  EXPECT_EQ(Value(repository, "//t:securityfile/@originalname"), path);
  EXPECT_EQ(Products(), (std::vector<CRepositoryProduct>{{upgradeCode, std::string(kFolder) + "\\O'Brien.xml"}}));
}

TEST_F(RepositoryTest, AProductValueCannotPlaceTheCopyOutsideTheFolder) {
  ASSERT_TRUE(Store("C:\\Setup\\Evil.xml", "{UC-E}", SecurityDocument("..\\..\\Evil")));
  const std::vector<CRepositoryProduct> products = Products();
  ASSERT_EQ(products.size(), 1u);
  EXPECT_EQ(products[0].secFileName, std::string(kFolder) + "\\.._.._Evil.xml");
  EXPECT_TRUE(Exists(products[0].secFileName));
  EXPECT_FALSE(Exists("C:\\Windows\\Evil.xml"));
}

TEST_F(RepositoryTest, RecordsWithoutUpgradeCodeOrFromTheRepositoryAreNotStored) {
  EXPECT_TRUE(Store("C:\\Setup\\Alpha.xml", kDoNotSaveUpgradeCode, SecurityDocument("Alpha")));
  EXPECT_TRUE(errorMgr_.Entries().empty());
  EXPECT_FALSE(CRepositoryMgr::RepositoryExists());

  EXPECT_FALSE(Store("C:\\Setup\\Alpha.xml", "", SecurityDocument("Alpha")));
  EXPECT_TRUE(HasEntry(kLevelError, "::SaveSecurityXMLToRepository",
                       "internal Error: pRawFeatures didn't contain a ProductName"));
  EXPECT_FALSE(CRepositoryMgr::RepositoryExists());
  EXPECT_FALSE(Exists(std::string(kFolder) + "\\Alpha.xml"));
}

// ---- Queries ------------------------------------------------------------------------

TEST_F(RepositoryTest, ProductsAreSelectedByPlatformInDocumentOrder) {
  ASSERT_TRUE(Store("C:\\Setup\\Alpha.xml", "{UC-A}", SecurityDocument("Alpha")));
  ASSERT_TRUE(Store("C:\\Setup\\Beta.xml", "{UC-B}", SecurityDocument("Beta")));
  // The other build's entry for the same product, as that build writes it.
  const xml::Document repository = LoadFile(kRepositoryPath);
  const xml::Node other = repository.SelectSingleNode("t:TarvoRepository/t:products")
                              .AppendChild(repository.CreateElement("t:product"));
  const std::string otherPlatform = kBuildIs64Bit ? "X86" : "X64";
  SetXmlAttribute(other, "value", "{UC-A}");
  SetXmlAttribute(other, "platform", otherPlatform);
  SetXmlAttribute(other.AppendChild(repository.CreateElement("t:securityfile")), "secfilename", "C:\\Other.xml");
  ASSERT_TRUE(CRepositoryMgr::SaveRepository(errorMgr_, repository));

  const std::vector<CRepositoryProduct> own = {{"{UC-A}", std::string(kFolder) + "\\Alpha.xml"},
                                               {"{UC-B}", std::string(kFolder) + "\\Beta.xml"}};
  const std::vector<CRepositoryProduct> foreign = {{"{UC-A}", "C:\\Other.xml"}};
  EXPECT_EQ(Products(kBuildIs64Bit ? kRepositoryProductsX64 : kRepositoryProductsX86), own);
  EXPECT_EQ(Products(kBuildIs64Bit ? kRepositoryProductsX86 : kRepositoryProductsX64), foreign);
  EXPECT_EQ(Products().size(), 3u);
  EXPECT_FALSE(HasEntryAtOrAbove(kLevelError));
}

TEST_F(RepositoryTest, LanguageIsTheLastStoredOneAndItsAbsenceIsCritical) {
  EXPECT_EQ(CRepositoryMgr::GetRepositoryLanguage(errorMgr_), "1033") << "no repository";
  errorMgr_.ResetMessages();
  ASSERT_FALSE(CRepositoryMgr::OpenRepository(errorMgr_).IsNull());
  EXPECT_EQ(CRepositoryMgr::GetRepositoryLanguage(errorMgr_), "");
  EXPECT_TRUE(HasEntry(kLevelCritical, "::GetLanguageFromRepositor",
                       "Could not find the language within the repository file..."));
  errorMgr_.ResetMessages();
  ASSERT_TRUE(Store("C:\\Setup\\Alpha.xml", "{UC-A}", SecurityDocument("Alpha"), "1031"));
  EXPECT_EQ(CRepositoryMgr::GetRepositoryLanguage(errorMgr_), "1031");
}

// ---- AddClientXML ---------------------------------------------------------------------

TEST_F(RepositoryTest, ClientXmlTakesTheProductsStoredCopiesAgain) {
  ASSERT_TRUE(Store("C:\\Setup\\P.xml", "{UC-P}", SecurityDocument("P", "one")));
  ASSERT_TRUE(Store("C:\\Setup\\P2.xml", "{UC-P}", SecurityDocument("P", "two")));
  // PA.xml holds "P" in its name but belongs to another product.
  ASSERT_TRUE(Store("C:\\Setup\\PA.xml", "{UC-PA}", SecurityDocument("PA")));
  errorMgr_.ResetMessages();

  std::vector<CSecurityXmlEntry> entries;
  ASSERT_TRUE(CRepositoryMgr::AddClientXML(errorMgr_, entries, "P"));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].path, std::string(kFolder) + "\\P.xml");
  EXPECT_EQ(entries[1].path, std::string(kFolder) + "\\P_0.xml");
  EXPECT_EQ(Value(entries[1].document, "t:vscSetup/t:host/t:body/t:wua/@value"), "two");
  for (const CSecurityXmlEntry& entry : entries) EXPECT_EQ(entry.upgradeCode, kDoNotSaveUpgradeCode);
  EXPECT_TRUE(HasEntry(kLevelInfo, "CRepositoryMgr::AddClientXML",
                       std::string("  load from repository= ") + kFolder + "\\P.xml"));
  EXPECT_FALSE(errorMgr_.IsError());

  // Taken again, they are not stored a second time.
  EXPECT_TRUE(Store(entries[0].path, entries[0].upgradeCode, entries[0].document));
  EXPECT_EQ(Products().size(), 3u);
}

TEST_F(RepositoryTest, ClientXmlIgnoresACopyWhoseChecksumFails) {
  ASSERT_TRUE(Store("C:\\Setup\\P.xml", "{UC-P}", SecurityDocument("P")));
  const std::string copyPath = std::string(kFolder) + "\\P.xml";
  const xml::Document copy = LoadFile(copyPath);
  SetXmlAttribute(copy.SelectSingleNode("t:vscSetup/t:host/t:body/t:wua"), "value", "tampered");
  ASSERT_EQ(copy.Save(copyPath), 0u);
  errorMgr_.ResetMessages();

  std::vector<CSecurityXmlEntry> entries;
  EXPECT_FALSE(CRepositoryMgr::AddClientXML(errorMgr_, entries, "P"));
  EXPECT_TRUE(entries.empty());
  EXPECT_TRUE(HasEntry(kLevelError, "CRepositoryMgr::CheckCheckSum", "Hash Check failed:  " + copyPath));
  EXPECT_TRUE(HasEntry(kLevelInfo, "CRepositoryMgr::AddClientXML", "ignore settings from:  " + copyPath));
}

TEST_F(RepositoryTest, ClientXmlWithoutRepositoryOrProductAddsNothing) {
  std::vector<CSecurityXmlEntry> entries;
  EXPECT_FALSE(CRepositoryMgr::AddClientXML(errorMgr_, entries, "P"));
  ASSERT_TRUE(Store("C:\\Setup\\P.xml", "{UC-P}", SecurityDocument("P")));
  EXPECT_FALSE(CRepositoryMgr::AddClientXML(errorMgr_, entries, ""));
  EXPECT_TRUE(entries.empty());
}

// ---- Firewall repository -------------------------------------------------------------

TEST_F(RepositoryTest, FirewallSnapshotsAreRegisteredOnceInTheirFolder) {
  const std::string snapshot = std::string(kFolder) + "\\2014_11_10__11_01_37";
  ASSERT_EQ(plat::Current().Files().MakeDirectory(kFolder), 0u);
  ASSERT_EQ(plat::Current().Files().MakeDirectory(snapshot), 0u);
  const std::string file = snapshot + "\\O'Brien_Firewall.xml";

  EXPECT_TRUE(CRepositoryMgr::LoadRepositoryOnlyFirewall(errorMgr_, snapshot).IsNull());
  EXPECT_TRUE(errorMgr_.Entries().empty()) << "a missing firewall repository is not reported";

  CRepositoryMgr::AddToFirewallRepository(errorMgr_, file, "{UC-O}", "1031", snapshot);
  CRepositoryMgr::AddToFirewallRepository(errorMgr_, file, "{UC-O}", "1031", snapshot);
  EXPECT_FALSE(errorMgr_.IsError());
  EXPECT_TRUE(Exists(snapshot + "\\TarvoRepositoryFirewall.xml"));
  EXPECT_FALSE(Exists(std::string(kFolder) + "\\TarvoRepositoryFirewall.xml"));

  EXPECT_EQ(CRepositoryMgr::GetFirewallRepositoryProducts(errorMgr_, snapshot),
            (std::vector<CRepositoryProduct>{{"{UC-O}", file}}));
  const xml::Document repository = CRepositoryMgr::LoadRepositoryOnlyFirewall(errorMgr_, snapshot);
  EXPECT_EQ(Value(repository, "//t:securityfile/@originalname"), file);
  EXPECT_FALSE(HasEntryAtOrAbove(kLevelError));
}

TEST_F(RepositoryTest, FirewallRepositoryOpenedWithoutFolderLivesInTheRepositoryFolder) {
  const xml::Document document = CRepositoryMgr::OpenOnlyFirewallRepository(errorMgr_, "");
  ASSERT_FALSE(document.IsNull());
  EXPECT_FALSE(Exists(std::string(kFolder) + "\\TarvoRepositoryFirewall.xml")) << "not saved by the open";
  ASSERT_TRUE(CRepositoryMgr::SaveRepositoryOnlyFirewall(errorMgr_, document, ""));
  EXPECT_FALSE(CRepositoryMgr::LoadRepositoryOnlyFirewall(errorMgr_, "").IsNull());
  EXPECT_FALSE(HasEntryAtOrAbove(kLevelError));
}

}  // namespace
